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
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += {static_cast<char>(0xC0 | (u >> 6)), static_cast<char>(0x80 | (u & 0x3F))};
        } else if (u < 0x10000) {
            out +=
                {static_cast<char>(0xE0 | (u >> 12)), static_cast<char>(0x80 | ((u >> 6) & 0x3F)),
                 static_cast<char>(0x80 | (u & 0x3F))};
        } else {
            out +=
                {static_cast<char>(0xF0 | (u >> 18)), static_cast<char>(0x80 | ((u >> 12) & 0x3F)),
                 static_cast<char>(0x80 | ((u >> 6) & 0x3F)), static_cast<char>(0x80 | (u & 0x3F))};
        }
    }
    return out;
}

// The other way: a malformed sequence comes in as U+FFFD.
inline std::wstring Widen(std::string_view utf8) {
    std::wstring out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int more = lead < 0x80    ? 0
                         : lead >= 0xF0 ? 3
                         : lead >= 0xE0 ? 2
                         : lead >= 0xC0 ? 1
                                        : -1;
        std::uint32_t u = more == 0 ? lead : lead & (0x3F >> more);
        bool whole = more >= 0 && i + static_cast<std::size_t>(more) < utf8.size();
        for (int k = 1; whole && k <= more; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]);
            whole = (next & 0xC0) == 0x80;
            u = (u << 6) | (next & 0x3F);
        }
        i += whole ? static_cast<std::size_t>(more) + 1 : 1;
        if (!whole || u > 0x10FFFF) u = 0xFFFD;
        if (u >= 0x10000 && sizeof(wchar_t) == 2) {
            out += static_cast<wchar_t>(0xD800 + ((u - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((u - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(u);
        }
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
