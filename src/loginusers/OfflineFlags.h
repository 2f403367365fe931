#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace loginusers {

// The flag values as they stand in the file, quotes included.
inline constexpr std::string_view kFlagOff = "\"0\"";
inline constexpr std::string_view kFlagOn = "\"1\"";

// On every line (a run of bytes holding neither CR nor LF) that contains "WantsOfflineMode" or
// "SkipOfflineModeWarning", case-sensitively, replaces every findValue with replaceValue, left
// to right without overlap. Every other byte stays as it is, line ends included. The two values
// must be of equal length (throws std::invalid_argument otherwise), so the text never moves.
// Returns how many values were replaced.
std::size_t RewriteOfflineFlags(std::string& text, std::string_view findValue,
                                std::string_view replaceValue);

}  // namespace loginusers
