#include <gmock/gmock.h>

#include "FakeRuntime.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using ::testing::StartsWith;

namespace {

// A start with these arguments, and this user's Steam running if so asked.
struct Launcher : FakeRuntime {
    explicit Launcher(const std::wstring& arguments, bool steamRunning = false) {
        commandText = arguments;
        if (steamRunning) processes.push_back({L"Steam.exe", 777});
    }
    std::vector<std::string> Captions() const { return CallsStartingWith("Caption"); }
    std::vector<std::string> Launches() const { return CallsStartingWith("Shell"); }
};

}  // namespace

TEST(Switches, AreFoundInAnyCaseAndRemovedLeavingTheRestLowerCase) {
    struct Case {
        const wchar_t* arguments;
        const char* launch;
        bool online;
        bool kill;
    };
    const Case cases[] = {
        {L"-KillSteam -Abc Def", "Shell C:\\Steam\\Steam.exe| -abc def|1", false, true},
        {L"-KILLSTEAM -Abc", "Shell C:\\Steam\\Steam.exe| -abc|1", false, true},
        {L"-Online -Abc Def", "Shell C:\\Steam\\Steam.exe| -abc def|1", true, false},
        {L"-oNLINE", "Shell C:\\Steam\\Steam.exe||1", true, false},
        {L"/killsteam -X", "Shell C:\\Steam\\Steam.exe| /killsteam -x|1", false, true},
        {L"-xonline", "Shell C:\\Steam\\Steam.exe| -xonline|1", true, false},
        {L"-killsteam -a -killsteam", "Shell C:\\Steam\\Steam.exe| -a|1", false, true},
        {L"-a -killsteam -b", "Shell C:\\Steam\\Steam.exe| -a  -b|1", false, true},
        {L"-Online -KillSteam -Tail", "Shell C:\\Steam\\Steam.exe| -tail|1", true, true},
        {L"-Mixed Case", "Shell C:\\Steam\\Steam.exe| -Mixed Case|1", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.arguments));
        Launcher run(c.arguments);
        run.files[kLoginUsers] = "WantsOfflineMode \"1\"\nSkipOfflineModeWarning \"0\"\n";
        run.Load();
        EXPECT_THAT(run.Launches(), ElementsAre(c.launch));
        EXPECT_EQ(run.files[kLoginUsers],
                  c.online ? "WantsOfflineMode \"0\"\nSkipOfflineModeWarning \"0\"\n"
                           : "WantsOfflineMode \"1\"\nSkipOfflineModeWarning \"1\"\n");
        EXPECT_EQ(!run.CallsStartingWith("Caption KillSteam").empty(), c.kill);
    }
}

TEST(KillSteam, EndsOnlyTheUsersOwnSteamAndLaunchesANewOneDirectlyOnceItIsGone) {
    struct Case {
        const char* name;
        std::vector<FakeRuntime::Process> running;
        std::vector<std::string> opens;
        bool killed;
    };
    const std::string open = "OpenProcess 1048577 0 ";
    const Case cases[] = {
        {"ends at once", {{L"Steam.exe", 777}}, {open + "777"}, true},
        {"another session's, listed first, is left alone",
         {{L"steam.exe", 3, FakeRuntime::kOtherSession}, {L"Steam.exe", 777}},
         {open + "777"},
         true},
        {"slow to end: gone after the wait", {{L"Steam.exe", 778}}, {open + "778"}, true},
        {"cannot be opened", {{L"Steam.exe", 779}}, {open + "779", open + "779"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Launcher run(L"-killsteam -killsteam");
        run.processes.insert(run.processes.end(), c.running.begin(), c.running.end());
        run.slowToEnd = {778};
        run.unopenable = {779};
        run.Load();
        EXPECT_EQ(run.CallsStartingWith("OpenProcess"), c.opens);
        EXPECT_EQ(run.Captions().at(1), c.killed ? "Caption Steam Process killed"
                                                 : "Caption Failed to kill Steam Process!");
        // A Steam that survives leaves the launch to the timer.
        EXPECT_THAT(run.Launches(), SizeIs(c.killed ? 1 : 0));
    }
}

TEST(KillSteam, WithNoSteamRunningMakesNoAttemptAndNoPass) {
    Launcher run(L"-KillSteam");
    run.Load();
    EXPECT_THAT(run.CallsStartingWith("OpenProcess"), IsEmpty());
    EXPECT_THAT(run.Captions(),
                ElementsAre("Caption KillSteam (Command Parameter)", "Caption Steam Process killed",
                            "Caption Loading Steam.exe"));
    // -KillSteam alone leaves nothing for -Online to look at, and Steam gets no arguments.
    EXPECT_EQ(run.form.CommandLine, L"");
    EXPECT_THAT(run.Launches(), ElementsAre("Shell C:\\Steam\\Steam.exe||1"));
}

TEST(KillSteam, ASurvivingSteamDefersTheLaunchToTheTimer) {
    Launcher run(L"-KillSteam -Online", /*steamRunning=*/true);
    run.unkillable = {777};
    EXPECT_FALSE(run.Load());
    EXPECT_THAT(run.CallsStartingWith("TerminateProcess"), SizeIs(2));
    EXPECT_THAT(run.CallsStartingWith("Snapshot"), SizeIs(3));
    EXPECT_THAT(run.Captions(), ElementsAre("Caption KillSteam (Command Parameter)",
                                            "Caption Failed to kill Steam Process!",
                                            "Caption Switch to Online-Mode (Command Parameter)"));
    EXPECT_THAT(run.Launches(), IsEmpty());
    EXPECT_EQ(run.calls.back(), "Timer RunSteamTimer on");

    // The timer's tick launches Steam once; it was disabled before the launch.
    run.calls.clear();
    run.Run([&] { run.form.RunSteamTimer_Timer(); });
    EXPECT_EQ(run.calls.front(), "Timer RunSteamTimer off");
    EXPECT_THAT(run.Launches(), ElementsAre("Shell C:\\Steam\\Steam.exe||1"));
    EXPECT_FALSE(run.timers[platform::FormTimer::RunSteamTimer]);
}

TEST(KillSteam, AQuitClickDuringThePassEndsBeforeTheFileIsTouched) {
    Launcher run(L"-KillSteam", /*steamRunning=*/true);
    run.onDoEvents = [&] { run.form.Guard([&] { run.form.Command1_Click(); }); };
    EXPECT_TRUE(run.Load());
    EXPECT_THAT(run.CallsStartingWith("Read"), IsEmpty());
    EXPECT_THAT(run.CallsStartingWith("Replace"), IsEmpty());
    EXPECT_THAT(run.Launches(), IsEmpty());
}

TEST(InfoBox, ShowsTheUsageAfterKillSteamAndBeforeTheChecksAndKeepsTheArgument) {
    Launcher run(L"-KillSteam x-?y");
    run.dirFinds.erase(L"steam.exe");
    run.Load();
    const std::string info =
        "MsgBox 64 Nimbrel V. 0.1 - Info: Command-Parameter: -Online -KillSteam\r\r"
        "  -Online : Enables Steam Online-Mode again\r"
        "  -KillSteam : Kills Steam.exe Task on Start\r"
        "  -? : This Screen\r\r"
        "                 http://www.example.org/nimbrel";
    EXPECT_THAT(run.CallsStartingWith("MsgBox 64"), ElementsAre(info));
    EXPECT_THAT(run.CallsStartingWith("MsgBox", "Caption"),
                ElementsAre("Caption KillSteam (Command Parameter)", "Caption Steam Process killed",
                            StartsWith(info.substr(0, 40)),
                            StartsWith("MsgBox 16 Steam.exe not found!: Steam.ex"),
                            "Caption Loading Steam.exe"));
    EXPECT_THAT(run.Launches(), ElementsAre("Shell C:\\Steam\\Steam.exe| x-?y|1"));
}

TEST(InfoBox, IsNotShownWithoutAQuestionMark) {
    Launcher run(L"-silent");
    run.Load();
    EXPECT_THAT(run.CallsStartingWith("MsgBox"), IsEmpty());
}
