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

std::vector<std::wstring> WrapWords(std::wstring_view text, int width,
                                    const std::function<int(std::wstring_view)>& measure) {
    std::vector<std::wstring> lines;
    std::size_t lineStart = text.find_first_not_of(L' ');
    while (lineStart != std::wstring_view::npos) {
        // Grow the line word by word while it fits; its first word always stays.
        std::size_t lineEnd = text.find(L' ', lineStart);
        if (lineEnd == std::wstring_view::npos) lineEnd = text.size();
        while (lineEnd < text.size()) {
            const std::size_t nextWord = text.find_first_not_of(L' ', lineEnd);
            if (nextWord == std::wstring_view::npos) break;
            std::size_t nextEnd = text.find(L' ', nextWord);
            if (nextEnd == std::wstring_view::npos) nextEnd = text.size();
            if (measure(text.substr(lineStart, nextEnd - lineStart)) > width) break;
            lineEnd = nextEnd;
        }
        lines.emplace_back(text.substr(lineStart, lineEnd - lineStart));
        lineStart = text.find_first_not_of(L' ', lineEnd);
    }
    return lines;
}

}  // namespace platform
