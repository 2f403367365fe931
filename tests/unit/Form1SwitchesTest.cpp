#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeRuntime.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::SizeIs;

namespace {

const std::wstring kLoginUsers = L"C:\\Steam\\config\\loginusers.vdf";

struct Launcher {
    FakeRuntime rt;
    app::Form1 form{rt};
    bool ended = false;
    explicit Launcher(const std::wstring& arguments, bool steamRunning = false) {
        rt.commandText = arguments;
        if (steamRunning) rt.processes.push_back({L"Steam.exe", 777});
    }
    Launcher& Load() {
        ended = rt.Run(form, [this] { form.Form_Load(); });
        return *this;
    }
    std::vector<std::string> Captions() const { return rt.CallsStartingWith("Caption"); }
    std::vector<std::string> Launches() const { return rt.CallsStartingWith("Shell"); }
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
        run.rt.files[kLoginUsers] = "WantsOfflineMode \"1\"\nSkipOfflineModeWarning \"0\"\n";
        run.Load();
        EXPECT_THAT(run.Launches(), ElementsAre(c.launch));
        EXPECT_EQ(run.rt.files[kLoginUsers],
                  c.online ? "WantsOfflineMode \"0\"\nSkipOfflineModeWarning \"0\"\n"
                           : "WantsOfflineMode \"1\"\nSkipOfflineModeWarning \"1\"\n");
        EXPECT_EQ(!run.rt.CallsStartingWith("Caption KillSteam").empty(), c.kill);
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
        run.rt.processes.insert(run.rt.processes.end(), c.running.begin(), c.running.end());
        run.rt.slowToEnd = {778};
        run.rt.unopenable = {779};
        run.Load();
        EXPECT_EQ(run.rt.CallsStartingWith("OpenProcess"), c.opens);
        EXPECT_EQ(run.Captions().at(1), c.killed ? "Caption Steam Process killed"
                                                 : "Caption Failed to kill Steam Process!");
        // A Steam that survives leaves the launch to the timer.
        EXPECT_THAT(run.Launches(), SizeIs(c.killed ? 1 : 0));
    }
}

TEST(KillSteam, WithNoSteamRunningMakesNoAttemptAndNoPass) {
    Launcher run(L"-KillSteam");
    run.Load();
    EXPECT_THAT(run.rt.CallsStartingWith("OpenProcess"), IsEmpty());
    EXPECT_THAT(run.Captions(),
                ElementsAre("Caption KillSteam (Command Parameter)", "Caption Steam Process killed",
                            "Caption Loading Steam.exe"));
    // -KillSteam alone leaves nothing for -Online to look at, and Steam gets no arguments.
    EXPECT_EQ(run.form.CommandLine, L"");
    EXPECT_THAT(run.Launches(), ElementsAre("Shell C:\\Steam\\Steam.exe||1"));
}

TEST(KillSteam, ASurvivingSteamDefersTheLaunchToTheTimer) {
    Launcher run(L"-KillSteam -Online", /*steamRunning=*/true);
    run.rt.unkillable = {777};
    run.Load();
    EXPECT_FALSE(run.ended);
    EXPECT_THAT(run.rt.CallsStartingWith("TerminateProcess"), ::testing::SizeIs(2));
    EXPECT_THAT(run.rt.CallsStartingWith("Snapshot"), ::testing::SizeIs(3));
    EXPECT_THAT(run.Captions(), ElementsAre("Caption KillSteam (Command Parameter)",
                                            "Caption Failed to kill Steam Process!",
                                            "Caption Switch to Online-Mode (Command Parameter)"));
    EXPECT_THAT(run.Launches(), IsEmpty());
    EXPECT_EQ(run.rt.calls.back(), "Timer RunSteamTimer on");

    // The timer's tick launches Steam once; it was disabled before the launch.
    run.rt.calls.clear();
    run.rt.Run(run.form, [&] { run.form.RunSteamTimer_Timer(); });
    EXPECT_EQ(run.rt.calls.front(), "Timer RunSteamTimer off");
    EXPECT_THAT(run.Launches(), ElementsAre("Shell C:\\Steam\\Steam.exe||1"));
    EXPECT_FALSE(run.rt.timers[platform::FormTimer::RunSteamTimer]);
}

TEST(KillSteam, AQuitClickDuringThePassEndsBeforeTheFileIsTouched) {
    Launcher run(L"-KillSteam", /*steamRunning=*/true);
    run.rt.onDoEvents = [&] { run.form.Guard([&] { run.form.Command1_Click(); }); };
    run.Load();
    EXPECT_TRUE(run.ended);
    EXPECT_THAT(run.rt.CallsStartingWith("Read"), IsEmpty());
    EXPECT_THAT(run.rt.CallsStartingWith("Replace"), IsEmpty());
    EXPECT_THAT(run.Launches(), IsEmpty());
}

TEST(InfoBox, ShowsTheUsageAfterKillSteamAndBeforeTheChecksAndKeepsTheArgument) {
    Launcher run(L"-KillSteam x-?y");
    run.rt.dirFinds.erase(L"steam.exe");
    run.Load();
    const std::string info =
        "MsgBox 64 Nimbrel V. 0.1 - Info: Command-Parameter: -Online -KillSteam\r\r"
        "  -Online : Enables Steam Online-Mode again\r"
        "  -KillSteam : Kills Steam.exe Task on Start\r"
        "  -? : This Screen\r\r"
        "                 http://www.example.org/nimbrel";
    std::vector<std::string> order;
    for (const auto& call : run.rt.calls)
        if (call.rfind("MsgBox", 0) == 0 || call.rfind("Caption", 0) == 0)
            order.push_back(call.substr(0, 40));
    EXPECT_THAT(run.rt.CallsStartingWith("MsgBox 64"), ElementsAre(info));
    EXPECT_THAT(order,
                ElementsAre("Caption KillSteam (Command Parameter)", "Caption Steam Process killed",
                            info.substr(0, 40), "MsgBox 16 Steam.exe not found!: Steam.ex",
                            "Caption Loading Steam.exe"));
    EXPECT_THAT(run.Launches(), ElementsAre("Shell C:\\Steam\\Steam.exe| x-?y|1"));
}

TEST(InfoBox, IsNotShownWithoutAQuestionMark) {
    Launcher run(L"-silent");
    run.Load();
    EXPECT_THAT(run.rt.CallsStartingWith("MsgBox"), IsEmpty());
}
