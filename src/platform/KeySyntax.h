#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One key press in a key sequence: a virtual key, or a character typed as itself, with the
// modifiers held around it.
struct KeyStroke {
    bool isCharacter = false;
    std::uint16_t virtualKey = 0;  // when !isCharacter
    wchar_t character = 0;         // when isCharacter
    bool shift = false, control = false, alt = false;

    bool operator==(const KeyStroke& other) const {
        return isCharacter == other.isCharacter && virtualKey == other.virtualKey &&
               character == other.character && shift == other.shift && control == other.control &&
               alt == other.alt;
    }
};

// Parses the classic key syntax: plain characters; "~" for Enter; "+", "^", "%" hold Shift,
// Ctrl, Alt for the next key or a parenthesised group; "{NAME}" or "{NAME n}" for special
// keys or a repeated key; "{+}", "{{}" and the like for the symbols themselves.
// Throws RuntimeError (invalid procedure call) on text it cannot read.
std::vector<KeyStroke> ParseKeys(const std::wstring& keys);

}  // namespace platform
