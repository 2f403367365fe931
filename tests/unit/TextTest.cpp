#include "platform/Text.h"

#include <gmock/gmock.h>

using platform::WrapWords;
using ::testing::ElementsAre;

namespace {
// Every character is 6 units wide, like a small fixed font.
int Fixed(std::wstring_view piece) { return static_cast<int>(piece.size()) * 6; }
}  // namespace

TEST(WrapWords, TheUsageTextBreaksBeforeCommandParameter) {
    const std::wstring usage = L"Launch Steam in Offline-Mode" + std::wstring(44, L' ') +
                               L"Command Parameter: -Online, -KillSteam,  -?";
    EXPECT_THAT(WrapWords(usage, 273, Fixed),
                ElementsAre(L"Launch Steam in Offline-Mode",
                            L"Command Parameter: -Online, -KillSteam,  -?"));
}

TEST(WrapWords, KeepsInnerBlanksAndGivesLongWordsTheirOwnLine) {
    EXPECT_THAT(WrapWords(L"  a  b ", 100, Fixed), ElementsAre(L"a  b"));
    EXPECT_THAT(WrapWords(L"abcdefghij xy", 30, Fixed), ElementsAre(L"abcdefghij", L"xy"));
    EXPECT_THAT(WrapWords(L"", 30, Fixed), ::testing::IsEmpty());
}

TEST(TrimSpacesAndReplaceAll, TouchOnlyWhatTheySay) {
    EXPECT_EQ(platform::TrimSpaces(L"  \ta b\t  "), L"\ta b\t");
    EXPECT_EQ(platform::TrimSpaces(L"   "), L"");
    EXPECT_EQ(platform::ReplaceAll(L"-x-x--x", L"-x", L""), L"-");
    EXPECT_EQ(platform::ReplaceAll(L"aaa", L"aa", L"b"), L"ba");
}
