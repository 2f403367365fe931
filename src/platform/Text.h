#pragma once

#include <string>
#include <string_view>

namespace platform {

// Strips space characters (only) from both ends; tabs and other blanks stay.
std::wstring TrimSpaces(std::wstring_view text);

// Every occurrence of what, left to right without overlap, replaced by with.
std::wstring ReplaceAll(std::wstring_view text, std::wstring_view what, std::wstring_view with);

inline bool Contains(std::wstring_view text, std::wstring_view what) {
    return text.find(what) != std::wstring_view::npos;
}

}  // namespace platform
