#include "instance/prevInstanz.h"

#include <gmock/gmock.h>

#include "FakeRuntime.h"

using ::testing::ElementsAre;

namespace {

// A start that finds another copy running (previous) and a window of its title (window), with
// the calls named in fail failing.
struct Start : FakeRuntime {
    Start(bool previous, std::int32_t window, std::set<std::string> fail = {}) {
        prevInstance = previous;
        windowFound = window;
        failing = std::move(fail);
    }
    // Runs the guard as the start-up does; true when the program ended inside it.
    bool Activate(const std::wstring& keys1 = L"", const std::wstring& keys2 = L"") {
        return Run([&] { prevInstanz::ActivatePrevInstance(*this, keys1, keys2); });
    }
};

const std::vector<std::string> kHandOver = {"FindWindowA ThunderRT5Form Nimbrel",
                                            "FindWindowA ThunderRT5Form Nimbrel",
                                            "SetAppTitle #$#",
                                            "ShowWindowAsync 0 9",
                                            "SetWindowPos 0 -1 0 0 0 0 3",
                                            "AppActivate Nimbrel",
                                            "SetWindowPos 0 -2 0 0 0 0 3",
                                            "End",
                                            "Quit 0"};

}  // namespace

TEST(ActivatePrevInstance, DecidesOnEitherTestAndHandsOver) {
    Start neither(false, 0);  // returns with one search and the title unchanged
    EXPECT_FALSE(neither.Activate());
    EXPECT_THAT(neither.calls, ElementsAre("FindWindowA ThunderRT5Form Nimbrel"));
    EXPECT_EQ(neither.title, L"Nimbrel");

    Start previousOnly(true, 0);
    EXPECT_TRUE(previousOnly.Activate());
    EXPECT_EQ(previousOnly.calls, kHandOver);
    EXPECT_EQ(previousOnly.title, L"#$#");

    Start windowOnly(false, 0x1234);
    EXPECT_TRUE(windowOnly.Activate());
    EXPECT_THAT(windowOnly.CallsStartingWith("SetWindowPos"),
                ElementsAre("SetWindowPos 4660 -1 0 0 0 0 3", "SetWindowPos 4660 -2 0 0 0 0 3"));

    Start negativeAlone(false, -5);  // a negative handle alone is not found
    EXPECT_FALSE(negativeAlone.Activate());

    Start negativeAndCopy(true, -5);  // it is still passed on when a copy runs
    EXPECT_TRUE(negativeAndCopy.Activate());
    EXPECT_THAT(negativeAndCopy.CallsStartingWith("ShowWindowAsync"),
                ElementsAre("ShowWindowAsync -5 9"));
}

TEST(ActivatePrevInstance, SendsKeysOnlyWhenTheFirstSequenceIsGiven) {
    Start secondOnly(true, 0);
    secondOnly.Activate(L"", L"{ENTER}");
    EXPECT_TRUE(secondOnly.CallsStartingWith("SendKeys").empty());
    EXPECT_TRUE(secondOnly.CallsStartingWith("DoEvents").empty());

    Start firstOnly(true, 0);
    firstOnly.Activate(L"abc", L"");
    const std::vector<std::string> tail(firstOnly.calls.begin() + 6, firstOnly.calls.end());
    EXPECT_THAT(tail, ElementsAre("SendKeys abc", "DoEvents", "SendKeys ", "DoEvents",
                                  "SetWindowPos 0 -2 0 0 0 0 3", "End", "Quit 0"));
}

TEST(ActivatePrevInstance, AFailingStepIsSkippedAndTheRestStillRuns) {
    Start activationFails(true, 0, {"AppActivate"});
    EXPECT_TRUE(activationFails.Activate());
    EXPECT_EQ(activationFails.calls, kHandOver);

    Start decidingFails(false, 0, {"AppPrevInstance"});  // enters the hand-over
    EXPECT_TRUE(decidingFails.Activate());
    EXPECT_EQ(decidingFails.calls, kHandOver);

    Start keysFail(true, 0, {"SendKeys", "SetAppTitle"});
    EXPECT_TRUE(keysFail.Activate(L"x", L"y"));
    EXPECT_THAT(keysFail.CallsStartingWith("DoEvents"), ::testing::SizeIs(2));
    EXPECT_EQ(keysFail.calls.back(), "Quit 0");
    EXPECT_EQ(keysFail.title, L"Nimbrel");  // the failed rename left the title as it was
}
