#include <gmock/gmock.h>

#include "FakeRuntime.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

TEST(StartSteam, OutcomeFollowsTheLookupsAfterEachLaunch) {
    struct Case {
        const char* name;
        bool alreadyRunning;
        int showsAfter;
        int launches;
        const char* caption;
        bool opensForNothing = false;  // as a Steam run as an administrator's account, with no
                                       // session list to tell its session instead
    };
    const Case cases[] = {
        {"found after the first launch", false, 1, 1, "Loading Steam.exe"},
        {"found, though it opens for nothing and no list tells", false, 1, 1, "Loading Steam.exe",
         true},
        {"already running", true, 0, 1, "Loading Steam.exe"},
        {"found only after the second launch", false, 2, 2, "Loading Steam.exe"},
        {"never found", false, 0, 2, "Error Starting Steam"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRuntime rt;
        rt.steamShowsAfterLaunches = c.showsAfter;
        if (c.alreadyRunning) rt.processes.push_back({L"STEAM.EXE", 9});
        if (c.opensForNothing) rt.unopenable = {rt.nextSteamId, rt.nextSteamId + 1};
        rt.sessionListFails = c.opensForNothing;
        EXPECT_FALSE(rt.Load());
        EXPECT_THAT(rt.CallsStartingWith("Shell"), SizeIs(c.launches));
        EXPECT_EQ(Narrow(rt.caption), c.caption);
        EXPECT_EQ(rt.calls.back(), "Timer Timer1 on");
        EXPECT_THAT(rt.CallsStartingWith("Timer"), ElementsAre("Timer Timer1 on"));
    }
}

TEST(StartSteam, LaunchCommandKeepsInnerBlanksAndDropsOnlyTheEnds) {
    struct Case {
        const wchar_t* appPath;
        const wchar_t* arguments;
        const char* launch;
    };
    const Case cases[] = {
        {L"C:\\Steam", L"", "Shell C:\\Steam\\Steam.exe||1"},
        {L"C:\\Steam", L"-a", "Shell C:\\Steam\\Steam.exe| -a|1"},
        {L"C:\\Steam", L"   -a  -b   ", "Shell C:\\Steam\\Steam.exe|    -a  -b|1"},
        {L"C:\\Steam", L"\t-a", "Shell C:\\Steam\\Steam.exe| \t-a|1"},
        {L"C:\\Program Files (x86)\\Steam", L"-a",
         "Shell C:\\Program Files (x86)\\Steam\\Steam.exe| -a|1"},
        {L"E:\\", L"-a", "Shell E:\\\\Steam.exe| -a|1"},
        // A folder whose name ends in blanks (reached through a \\?\\ or Unix path) is named as
        // it is, and no argument loses a character to it.
        {L"C:\\Steam  ", L"-login me", "Shell C:\\Steam  \\Steam.exe| -login me|1"},
        {L"C:\\Steam ", L"", "Shell C:\\Steam \\Steam.exe||1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.arguments));
        FakeRuntime rt;
        rt.appPath = c.appPath;
        rt.commandText = c.arguments;
        rt.files = {{std::wstring(c.appPath) + L"\\config\\loginusers.vdf", ""}};
        rt.Load();
        EXPECT_THAT(rt.CallsStartingWith("Shell"), ElementsAre(c.launch));
    }
}

TEST(StartSteam, ALaunchThatCannotStartEndsWithoutLookupCaptionOrTimer) {
    FakeRuntime rt;
    rt.shellError = platform::errors::FileNotFound(L"C:\\Steam\\Steam.exe");
    EXPECT_TRUE(rt.Load());
    EXPECT_THAT(rt.CallsStartingWith("Snapshot"), IsEmpty());
    EXPECT_THAT(rt.CallsStartingWith("Timer"), IsEmpty());
    EXPECT_EQ(Narrow(rt.caption), "Loading Steam.exe");
    EXPECT_THAT(rt.CallsStartingWith("ErrorBox"), ElementsAre("ErrorBox 53 File not found"));
}

TEST(StartSteam, QuitDuringTheFirstPassEndsBeforeTheLookup) {
    FakeRuntime rt;
    int passes = 0;
    rt.onDoEvents = [&] {  // a Quit click in the pass after the launch
        if (++passes == 2) rt.form.Guard([&] { rt.form.Command1_Click(); });
    };
    EXPECT_TRUE(rt.Load());
    EXPECT_THAT(rt.CallsStartingWith("Shell"), SizeIs(1));
    EXPECT_THAT(rt.CallsStartingWith("Snapshot"), IsEmpty());
    EXPECT_THAT(rt.CallsStartingWith("Timer"), IsEmpty());
}

TEST(Timer1, FirstTickDisablesItselfAndEndsTheProgram) {
    FakeRuntime rt;
    EXPECT_TRUE(rt.Run([&] { rt.form.Timer1_Timer(); }));
    EXPECT_THAT(rt.calls, ElementsAre("Timer Timer1 off", "End", "Quit 0"));
}
