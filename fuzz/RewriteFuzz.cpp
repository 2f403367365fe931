// libFuzzer target for the offline-flag rewrite, checked against a plain oracle written here.
// The first input byte picks the direction (offline or online); the rest is the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "loginusers/OfflineFlags.h"

namespace {

struct Line {
    std::string text;
    std::string end;  // "\r\n", "\r", "\n" or "" at the end of the file
};

// The file as lines and their separators, the obvious way.
std::vector<Line> SplitLines(const std::string& file) {
    std::vector<Line> lines;
    std::string current;
    for (std::size_t i = 0; i < file.size(); ++i) {
        const char c = file[i];
        if (c != '\r' && c != '\n') {
            current += c;
            continue;
        }
        std::string end(1, c);
        if (c == '\r' && i + 1 < file.size() && file[i + 1] == '\n') end += file[++i];
        lines.push_back({current, end});
        current.clear();
    }
    lines.push_back({current, ""});
    return lines;
}

bool IsKeyLine(const std::string& line) {
    return line.find("WantsOfflineMode") != std::string::npos ||
           line.find("SkipOfflineModeWarning") != std::string::npos;
}

std::string ReplaceEvery(const std::string& text, const std::string& find,
                         const std::string& replace) {
    std::string out;
    std::size_t from = 0;
    for (std::size_t at = text.find(find); at != std::string::npos; at = text.find(find, from)) {
        out += text.substr(from, at - from) + replace;
        from = at + find.size();
    }
    return out + text.substr(from);
}

std::string Oracle(const std::string& file, const std::string& find, const std::string& replace) {
    std::string out;
    for (const Line& line : SplitLines(file))
        out +=
            (IsKeyLine(line.text) ? ReplaceEvery(line.text, find, replace) : line.text) + line.end;
    return out;
}

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool online = data[0] & 1;
    const std::string find(online ? loginusers::kFlagOn : loginusers::kFlagOff);
    const std::string replace(online ? loginusers::kFlagOff : loginusers::kFlagOn);
    const std::string original(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::string once = original;
    loginusers::RewriteOfflineFlags(once, find, replace);
    Check(once == Oracle(original, find, replace));
    Check(once.size() == original.size());

    // A second run changes nothing, except where the first left a new value that overlaps a
    // replaced one ("0"0" becomes "1"0", which holds "0" again): then it does what the oracle does.
    std::string twice = once;
    const std::size_t again = loginusers::RewriteOfflineFlags(twice, find, replace);
    const std::string expectedTwice = Oracle(once, find, replace);
    Check(twice == expectedTwice);
    Check((again == 0) == (expectedTwice == once));

    // Swapping back restores every key line that held no replace value to begin with.
    std::string back = once;
    loginusers::RewriteOfflineFlags(back, replace, find);
    const auto before = SplitLines(original);
    const auto after = SplitLines(back);
    Check(before.size() == after.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        Check(before[i].end == after[i].end);
        if (before[i].text.find(replace) == std::string::npos)
            Check(before[i].text == after[i].text);
    }
    return 0;
}
