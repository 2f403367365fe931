#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Strips space characters (only) from both ends; tabs and other blanks stay.
std::wstring TrimSpaces(std::wstring_view text);

// Every occurrence of what, left to right without overlap, replaced by with.
std::wstring ReplaceAll(std::wstring_view text, std::wstring_view what, std::wstring_view with);

// Breaks text into lines no wider than width, at blanks: a run of blanks where a line breaks
// is dropped, blanks inside a line stay. A word wider than width gets a line of its own.
// measure gives the width of a piece of text.
std::vector<std::wstring> WrapWords(std::wstring_view text, int width,
                                    const std::function<int(std::wstring_view)>& measure);

inline bool Contains(std::wstring_view text, std::wstring_view what) {
    return text.find(what) != std::wstring_view::npos;
}

}  // namespace platform
