// The switches under Wine: -KillSteam against a real running stand-in, and -?; -Online and
// -KillSteam with none running are rows of Launch/StraightThrough.
#include "Harness.h"

using namespace e2e;

using Switches = EndToEnd;

TEST_F(Switches, KillSteamEndsTheRunningClientAndStartsANewOneWithoutArguments) {
    SteamFolder steam(L"Steam-kill", "");
    const testbed::Process old(steam.Path() + L"\\Steam.exe",
                               L"\"" + steam.Path() + L"\\Steam.exe\" -old", {steam.Path()});
    ASSERT_TRUE(old.Started());
    ASSERT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));

    Launcher nimbrel(steam.Nimbrel(), L"-KillSteam", steam.Path());
    EXPECT_EQ(old.WaitForExit("the old Steam to end", 5000), 1u) << "ended by the launcher";
    const auto starts = steam.WaitForSteamStarts(2);
    ASSERT_THAT(starts, SizeIs(2));
    EXPECT_EQ(starts[1].commandLine, SteamCommandLine(steam.Path(), ""));
    EXPECT_EQ(nimbrel.WaitForExit(10000), 0u);
}

TEST_F(Switches, QuestionMarkShowsTheUsageBoxAndTheRunGoesOnAfterIt) {
    SteamFolder steam(L"Steam-info", kOnline);
    Launcher nimbrel(steam.Nimbrel(), L"-?", steam.Path());
    const auto box = nimbrel.WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->title, L"Nimbrel V. 0.1 - Info");
    EXPECT_EQ(box->text,
              L"Command-Parameter: -Online -KillSteam\r\r"
              L"  -Online : Enables Steam Online-Mode again\r"
              L"  -KillSteam : Kills Steam.exe Task on Start\r"
              L"  -? : This Screen\r\r"
              L"                 http://www.example.org/nimbrel");
    EXPECT_EQ(steam.ReadLoginUsers(), kOnline);
    EXPECT_THAT(steam.SteamStarts(), IsEmpty());
    PressOk(box->window);
    const auto starts = steam.WaitForSteamStarts(1);
    ASSERT_THAT(starts, SizeIs(1));
    EXPECT_EQ(starts[0].commandLine, SteamCommandLine(steam.Path(), " -?"));
    EXPECT_EQ(steam.ReadLoginUsers(), Flagged(kOnline));
    EXPECT_EQ(nimbrel.Quit(), 0u);
}
