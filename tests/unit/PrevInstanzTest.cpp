#include "instance/prevInstanz.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeRuntime.h"

using ::testing::ElementsAre;

namespace {

// Runs the guard as the start-up does; true when the program ended inside it.
bool Activate(FakeRuntime& rt, const std::wstring& keys1 = L"", const std::wstring& keys2 = L"") {
    app::Form1 form(rt);
    return rt.Run(form, [&] { prevInstanz::ActivatePrevInstance(rt, keys1, keys2); });
}

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
    {
        SCOPED_TRACE("neither: returns with one search and the title unchanged");
        FakeRuntime rt;
        EXPECT_FALSE(Activate(rt));
        EXPECT_THAT(rt.calls, ElementsAre("FindWindowA ThunderRT5Form Nimbrel"));
        EXPECT_EQ(rt.title, L"Nimbrel");
    }
    {
        SCOPED_TRACE("previous instance only");
        FakeRuntime rt;
        rt.prevInstance = true;
        EXPECT_TRUE(Activate(rt));
        EXPECT_EQ(rt.calls, kHandOver);
        EXPECT_EQ(rt.title, L"#$#");
    }
    {
        SCOPED_TRACE("window only");
        FakeRuntime rt;
        rt.windowFound = 0x1234;
        EXPECT_TRUE(Activate(rt));
        EXPECT_THAT(
            rt.CallsStartingWith("SetWindowPos"),
            ElementsAre("SetWindowPos 4660 -1 0 0 0 0 3", "SetWindowPos 4660 -2 0 0 0 0 3"));
    }
    {
        SCOPED_TRACE("negative handle alone is not found");
        FakeRuntime rt;
        rt.windowFound = -5;
        EXPECT_FALSE(Activate(rt));
    }
    {
        SCOPED_TRACE("negative handle is still passed on when a copy runs");
        FakeRuntime rt;
        rt.windowFound = -5;
        rt.prevInstance = true;
        EXPECT_TRUE(Activate(rt));
        EXPECT_THAT(rt.CallsStartingWith("ShowWindowAsync"), ElementsAre("ShowWindowAsync -5 9"));
    }
}

TEST(ActivatePrevInstance, SendsKeysOnlyWhenTheFirstSequenceIsGiven) {
    {
        FakeRuntime rt;
        rt.prevInstance = true;
        Activate(rt, L"", L"{ENTER}");
        EXPECT_TRUE(rt.CallsStartingWith("SendKeys").empty());
        EXPECT_TRUE(rt.CallsStartingWith("DoEvents").empty());
    }
    {
        FakeRuntime rt;
        rt.prevInstance = true;
        Activate(rt, L"abc", L"");
        const std::vector<std::string> tail(rt.calls.begin() + 6, rt.calls.end());
        EXPECT_THAT(tail, ElementsAre("SendKeys abc", "DoEvents", "SendKeys ", "DoEvents",
                                      "SetWindowPos 0 -2 0 0 0 0 3", "End", "Quit 0"));
    }
}

TEST(ActivatePrevInstance, AFailingStepIsSkippedAndTheRestStillRuns) {
    {
        SCOPED_TRACE("activation fails");
        FakeRuntime rt;
        rt.prevInstance = true;
        rt.failing = {"AppActivate"};
        EXPECT_TRUE(Activate(rt));
        EXPECT_EQ(rt.calls, kHandOver);
    }
    {
        SCOPED_TRACE("a failure while deciding enters the hand-over");
        FakeRuntime rt;
        rt.failing = {"AppPrevInstance"};
        EXPECT_TRUE(Activate(rt));
        EXPECT_EQ(rt.calls, kHandOver);
    }
    {
        SCOPED_TRACE("key sending fails");
        FakeRuntime rt;
        rt.prevInstance = true;
        rt.failing = {"SendKeys", "SetAppTitle"};
        EXPECT_TRUE(Activate(rt, L"x", L"y"));
        EXPECT_THAT(rt.CallsStartingWith("DoEvents"), ::testing::SizeIs(2));
        EXPECT_EQ(rt.calls.back(), "Quit 0");
        EXPECT_EQ(rt.title, L"Nimbrel");  // the failed rename left the title as it was
    }
}
