#include "loginusers/OfflineFlags.h"

#include <cstring>
#include <stdexcept>

namespace loginusers {
namespace {

// Both key names contain this; searching for it alone skips non-key lines at memchr speed.
constexpr std::string_view kCommonPart = "OfflineMode";
constexpr std::string_view kWantsPrefix = "Wants";  // "WantsOfflineMode"
constexpr std::string_view kSkipPrefix = "Skip";    // "SkipOfflineModeWarning"
constexpr std::string_view kSkipSuffix = "Warning";

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

bool EndsWithAt(std::string_view text, std::size_t end, std::string_view what) {
    return end >= what.size() && text.compare(end - what.size(), what.size(), what) == 0;
}

// True when the occurrence of kCommonPart at `at` is part of one of the two key names.
bool IsKeyName(std::string_view text, std::size_t at) {
    if (EndsWithAt(text, at, kWantsPrefix)) return true;
    return EndsWithAt(text, at, kSkipPrefix) &&
           text.compare(at + kCommonPart.size(), kSkipSuffix.size(), kSkipSuffix) == 0;
}

std::size_t LineStart(std::string_view text, std::size_t at) {
    while (at > 0 && !IsLineEnd(text[at - 1])) --at;
    return at;
}

std::size_t LineEnd(std::string_view text, std::size_t at) {
    while (at < text.size() && !IsLineEnd(text[at])) ++at;
    return at;
}

std::size_t ReplaceInLine(std::string& text, std::size_t begin, std::size_t end,
                          std::string_view findValue, std::string_view replaceValue) {
    std::size_t count = 0;
    const std::string_view line = std::string_view(text).substr(begin, end - begin);
    for (std::size_t at = line.find(findValue); at != std::string_view::npos;
         at = line.find(findValue, at + findValue.size())) {
        std::memcpy(&text[begin + at], replaceValue.data(), replaceValue.size());
        ++count;
    }
    return count;
}

}  // namespace

std::size_t RewriteOfflineFlags(std::string& text, std::string_view findValue,
                                std::string_view replaceValue) {
    if (findValue.size() != replaceValue.size())
        throw std::invalid_argument("flag values must be of equal length");
    if (findValue.empty()) return 0;

    std::size_t count = 0;
    std::size_t from = 0;
    while (true) {
        const std::string_view view(text);
        const std::size_t hit = view.find(kCommonPart, from);
        if (hit == std::string_view::npos) break;
        if (!IsKeyName(view, hit)) {
            from = hit + 1;
            continue;
        }
        const std::size_t end = LineEnd(view, hit + kCommonPart.size());
        count += ReplaceInLine(text, LineStart(view, hit), end, findValue, replaceValue);
        from = end;
    }
    return count;
}

}  // namespace loginusers
