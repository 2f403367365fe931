#pragma once

// What every test program shares, native and under Windows alike: text in UTF-8 for messages,
// and a file's bytes.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace testbed {

// UTF-8, whatever the width of wchar_t: a UTF-16 surrogate pair comes out as its one character,
// and anything that is no character as U+FFFD.
inline std::string Narrow(std::wstring_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto u = static_cast<std::uint32_t>(text[i]);
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000)
            u = 0x10000 + ((u - 0xD800) << 10) + (static_cast<std::uint32_t>(text[++i]) - 0xDC00);
        else if ((u >= 0xD800 && u < 0xE000) || u > 0x10FFFF)
            u = 0xFFFD;
        int more = u < 0x80 ? 0 : u < 0x800 ? 1 : u < 0x10000 ? 2 : 3;  // bytes after the lead
        out += static_cast<char>(more ? ((0xFF << (7 - more)) & 0xFF) | (u >> (6 * more)) : u);
        while (more-- > 0) out += static_cast<char>(0x80 | ((u >> (6 * more)) & 0x3F));
    }
    return out;
}

// A whole file's bytes; "" when it cannot be read.
inline std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Writes the whole file, making the folders it is in.
inline void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
    std::error_code ignored;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace testbed
