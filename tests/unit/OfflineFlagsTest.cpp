#include "loginusers/OfflineFlags.h"

#include <gmock/gmock.h>

#include <filesystem>

#include "Common.h"

using loginusers::kFlagOff;
using loginusers::kFlagOn;
using loginusers::RewriteOfflineFlags;

namespace {

std::string Rewritten(std::string text, std::string_view find = kFlagOff,
                      std::string_view replace = kFlagOn) {
    RewriteOfflineFlags(text, find, replace);
    return text;
}

}  // namespace

TEST(RewriteOfflineFlags, ChangesOnlyKeyLinesAndKeepsEveryOtherByte) {
    struct Case {
        const char* name;
        std::string in;
        std::string out;
        std::size_t count;
    };
    const Case cases[] = {
        {"wants flag", "\"WantsOfflineMode\"\t\t\"0\"\n", "\"WantsOfflineMode\"\t\t\"1\"\n", 1},
        {"skip flag", "\"SkipOfflineModeWarning\" \"0\"\n", "\"SkipOfflineModeWarning\" \"1\"\n",
         1},
        {"already on", "\"WantsOfflineMode\"\t\t\"1\"\n", "\"WantsOfflineMode\"\t\t\"1\"\n", 0},
        {"zero without key", "\"RememberPassword\"\t\t\"0\"\n", "\"RememberPassword\"\t\t\"0\"\n",
         0},
        {"key in other case", "\"wantsofflinemode\"\t\"0\"\n", "\"wantsofflinemode\"\t\"0\"\n", 0},
        {"two values on one key line", "\"0\" WantsOfflineMode \"0\"",
         "\"1\" WantsOfflineMode \"1\"", 2},
        {"value on the next line stays", "\"WantsOfflineMode\"\n\"0\"\n",
         "\"WantsOfflineMode\"\n\"0\"\n", 0},
        {"value before a CR stays apart", "\"0\"\r\"WantsOfflineMode\"",
         "\"0\"\r\"WantsOfflineMode\"", 0},
        {"CR LF ends kept", "A\r\n\"WantsOfflineMode\" \"0\"\r\nB\r\n",
         "A\r\n\"WantsOfflineMode\" \"1\"\r\nB\r\n", 1},
        {"lone CR ends kept", "\"SkipOfflineModeWarning\" \"0\"\rB\r",
         "\"SkipOfflineModeWarning\" \"1\"\rB\r", 1},
        {"empty lines kept", "\n\n\"WantsOfflineMode\" \"0\"\n\n",
         "\n\n\"WantsOfflineMode\" \"1\"\n\n", 1},
        {"no final line end", "\"WantsOfflineMode\" \"0\"", "\"WantsOfflineMode\" \"1\"", 1},
        {"empty file", "", "", 0},
        {"NUL and high bytes kept", std::string("\xff\x00\"WantsOfflineMode\"\x00\"0\"\xe4", 26),
         std::string("\xff\x00\"WantsOfflineMode\"\x00\"1\"\xe4", 26), 1},
        {"no overlap", "WantsOfflineMode \"0\"0\"", "WantsOfflineMode \"1\"0\"", 1},
        {"lookalike key does not count", "\"SkipOfflineModeWarnin\" \"0\"",
         "\"SkipOfflineModeWarnin\" \"0\"", 0},
        {"key name at the very start", "WantsOfflineMode\"0\"", "WantsOfflineMode\"1\"", 1},
        {"half a key before the real one", "OfflineMode WantsOfflineMode \"0\"",
         "OfflineMode WantsOfflineMode \"1\"", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.in;
        EXPECT_EQ(RewriteOfflineFlags(text, kFlagOff, kFlagOn), c.count);
        EXPECT_EQ(text, c.out);
    }
}

TEST(RewriteOfflineFlags, OnlineSwapTurnsOnesBackAndLeavesZeros) {
    EXPECT_EQ(Rewritten("\"WantsOfflineMode\" \"1\"\n\"SkipOfflineModeWarning\" \"0\"\n", kFlagOn,
                        kFlagOff),
              "\"WantsOfflineMode\" \"0\"\n\"SkipOfflineModeWarning\" \"0\"\n");
}

TEST(RewriteOfflineFlags, RejectsValuesOfDifferentLength) {
    std::string text = "WantsOfflineMode \"0\"";
    EXPECT_THROW(RewriteOfflineFlags(text, "\"0\"", "\"10\""), std::invalid_argument);
    EXPECT_EQ(text, "WantsOfflineMode \"0\"");
}

TEST(RewriteOfflineFlags, RealWorldFilesChangeOnlyTheFlagDigits) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(NIMBREL_FIXTURES)) {
        if (entry.path().extension() != ".vdf") continue;
        ++files;
        SCOPED_TRACE(entry.path().filename().string());
        const std::string original = testbed::ReadBytes(entry.path());
        std::string offline = original;
        const std::size_t changed = RewriteOfflineFlags(offline, kFlagOff, kFlagOn);
        ASSERT_EQ(offline.size(), original.size());
        std::size_t digits = 0;
        for (std::size_t i = 0; i < original.size(); ++i) {
            if (original[i] == offline[i]) continue;
            ++digits;
            EXPECT_EQ(original[i], '0');
            EXPECT_EQ(offline[i], '1');
            // The changed digit belongs to one of the two offline flags on its own line.
            const auto lineStart = original.rfind('\n', i) + 1;
            const std::string line = original.substr(lineStart, original.find('\n', i) - lineStart);
            EXPECT_THAT(line, ::testing::AnyOf(::testing::HasSubstr("WantsOfflineMode"),
                                               ::testing::HasSubstr("SkipOfflineModeWarning")));
        }
        EXPECT_EQ(digits, changed);
        // A second run finds nothing more to do.
        std::string again = offline;
        EXPECT_EQ(RewriteOfflineFlags(again, kFlagOff, kFlagOn), 0u);
        // Where no flag was on before, -Online restores the original byte for byte.
        if (Rewritten(original, kFlagOn, kFlagOff) == original) {
            EXPECT_EQ(Rewritten(offline, kFlagOn, kFlagOff), original);
        }
    }
    EXPECT_EQ(files, 8);
}

TEST(RewriteOfflineFlags, FlipsBothFlagsOfEveryAccountInAModernFile) {
    std::string text =
        testbed::ReadBytes(std::filesystem::path(NIMBREL_FIXTURES) / "sample-steambackup.vdf");
    const std::size_t zerosBefore = std::count(text.begin(), text.end(), '0');
    const std::size_t changed = RewriteOfflineFlags(text, kFlagOff, kFlagOn);
    EXPECT_GE(changed, 2u);
    EXPECT_EQ(changed % 2, 0u) << "each account has both flags";
    EXPECT_NE(text.find("\"RememberPassword\"\t\t\"0\""), std::string::npos);
    EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '0')),
              zerosBefore - changed);
}

TEST(RewriteOfflineFlags, LargeFileIsRewrittenInOnePass) {
    const std::string block =
        "\t\"76561198000000001\"\n\t{\n\t\t\"AccountName\"\t\t\"user01\"\n"
        "\t\t\"WantsOfflineMode\"\t\t\"0\"\n\t\t\"SkipOfflineModeWarning\"\t\t\"0\"\n"
        "\t\t\"Timestamp\"\t\t\"1700000000\"\n\t}\n";
    std::string text;
    while (text.size() < (64u << 20)) text += block;
    const std::size_t blocks = text.size() / block.size();
    EXPECT_EQ(RewriteOfflineFlags(text, kFlagOff, kFlagOn), 2 * blocks);
    EXPECT_EQ(text.find("OfflineMode\"\t\t\"0\""), std::string::npos);
}
