#include "platform/Text.h"

namespace platform {

std::wstring TrimSpaces(std::wstring_view text) {
    const auto first = text.find_first_not_of(L' ');
    if (first == std::wstring_view::npos) return {};
    const auto last = text.find_last_not_of(L' ');
    return std::wstring(text.substr(first, last - first + 1));
}

std::wstring ReplaceAll(std::wstring_view text, std::wstring_view what, std::wstring_view with) {
    if (what.empty()) return std::wstring(text);
    std::wstring result;
    result.reserve(text.size());
    std::size_t from = 0;
    for (auto at = text.find(what); at != std::wstring_view::npos; at = text.find(what, from)) {
        result.append(text.substr(from, at - from)).append(with);
        from = at + what.size();
    }
    result.append(text.substr(from));
    return result;
}

}  // namespace platform
