#include <gmock/gmock.h>

#include <functional>
#include <map>

#include "FakeRuntime.h"

using ::testing::ElementsAre;

const char kSteamBox[] =
    "MsgBox 16 Steam.exe not found!: Steam.exe not found - Nimbrel.exe must be in the "
    "Steam-Directory, where the steam.exe is located";
const char kRead[] = "Read C:\\Steam\\config\\loginusers.vdf";
const char kReplace[] = "Replace C:\\Steam\\config\\loginusers.vdf";
const char kShell[] = "Shell C:\\Steam\\Steam.exe||1";
const char kOff[] = "\"WantsOfflineMode\"\t\t\"0\"\n";
const char kOn[] = "\"WantsOfflineMode\"\t\t\"1\"\n";
const char kLoginUsersBox[] =
    "MsgBox 16 Steam.exe not found!: C:\\Steam\\config\\loginusers.vdf\r\rnot found.\r"
    "Nimbrel.exe must be in the Steam-Directory, where the steam.exe is located";

TEST(FormLoad, PlainStartFlipsTheFlagsThenLaunchesSteam) {
    FakeRuntime rt;
    EXPECT_FALSE(rt.Load());
    EXPECT_EQ(rt.files[kLoginUsers], kOn);
    EXPECT_EQ(rt.form.AppPath, L"C:\\Steam");
    EXPECT_EQ(rt.form.LoginUsersPath, kLoginUsers);
    EXPECT_EQ(rt.calls, (std::vector<std::string>{
                            "FindWindowA ThunderRT5Form Nimbrel", "ShowForm", "Dir steam.exe",
                            "Dir C:\\Steam\\config\\loginusers.vdf", kRead, kReplace, "DoEvents",
                            "Caption Loading Steam.exe", kShell, "DoEvents", "Snapshot 2 0",
                            "GetCurrentProcessId", "ProcessSessions", "First", "Next", "Next",
                            "CloseHandle 1792", "Timer Timer1 on"}));
}

// Form_Load from one start each: what the row changes of a plain start in C:\Steam, then every
// call that shows something or touches the file, in order, and the files afterwards.
struct LoadRow {
    const char* name;
    std::function<void(FakeRuntime&)> stage;
    bool ends;  // within Form_Load, before the timers
    std::vector<std::string> visible;
    std::map<std::wstring, std::string> filesAfter;
    const wchar_t* loginUsersPath = nullptr;  // the form's path of the file, where the row says
};

const LoadRow kLoadRows[] = {
    {"SteamMissingFromTheWorkingDirectoryCostsOneBoxAndTheRunGoesOn",
     [](FakeRuntime& rt) { rt.dirFinds.erase(L"steam.exe"); },  // a shortcut starting elsewhere
     false,
     {"ShowForm", kSteamBox, kRead, kReplace, kShell},
     {{kLoginUsers, kOn}}},
    {"MissingLoginUsersFileGivesItsBoxThenTheErrorAndCreatesNothing",
     [](FakeRuntime& rt) {
         rt.dirFinds.erase(kLoginUsers);
         rt.files.clear();
     },
     true,
     {"ShowForm", kLoginUsersBox, kRead, "ErrorBox 53 File not found", "Quit 1"},
     {}},
    {"BothMissingShowsSteamBoxThenLoginUsersBoxThenTheError",
     [](FakeRuntime& rt) {
         rt.dirFinds.clear();
         rt.files.clear();
     },
     true,
     {"ShowForm", kSteamBox, kLoginUsersBox, kRead, "ErrorBox 53 File not found", "Quit 1"},
     {}},
    {"DriveRootKeepsBothBackslashesInEveryPath",
     [](FakeRuntime& rt) {
         rt.appPath = L"D:\\";
         rt.dirFinds = {L"steam.exe", L"D:\\\\config\\loginusers.vdf"};
         rt.files = {{L"D:\\\\config\\loginusers.vdf", "SkipOfflineModeWarning \"0\""}};
     },
     false,
     {"ShowForm", "Read D:\\\\config\\loginusers.vdf", "Replace D:\\\\config\\loginusers.vdf",
      "Shell D:\\\\Steam.exe||1"},
     {{L"D:\\\\config\\loginusers.vdf", "SkipOfflineModeWarning \"1\""}},
     L"D:\\\\config\\loginusers.vdf"},
    {"NothingToChangeStillLaunchesSteamOnce",
     [](FakeRuntime& rt) { rt.files[kLoginUsers] = "\"WantsOfflineMode\"\t\t\"1\"\r\n"; },
     false,
     {"ShowForm", kRead, kShell},
     {{kLoginUsers, "\"WantsOfflineMode\"\t\t\"1\"\r\n"}}},
    {"AFailedWriteEndsTheProgramWithoutLaunchingSteam",
     [](FakeRuntime& rt) { rt.replaceError = platform::errors::PathFileAccess(L"read-only"); },
     true,
     {"ShowForm", kRead, kReplace, "ErrorBox 75 Path/File access error", "Quit 1"},
     {{kLoginUsers, kOff}}},
    {"ASaveByAnotherProgramMeanwhileGetsTheSameRewrite",
     [](FakeRuntime& rt) {
         rt.commandText = L"-Online";
         rt.files[kLoginUsers] = kOn;
         rt.savedMeanwhile = std::string(kOn) + "\"SkipOfflineModeWarning\"\t\t\"1\"\n";
     },
     false,
     {"ShowForm", kRead, kReplace, kShell},
     {{kLoginUsers, std::string(kOff) + "\"SkipOfflineModeWarning\"\t\t\"0\"\n"}}},
    {"ASecondCopyEndsBeforeShowingTouchingOrLaunchingAnything",
     [](FakeRuntime& rt) { rt.prevInstance = true; },
     true,
     {"Quit 0"},
     {{kLoginUsers, kOff}}},
    {"ArgumentsReachSteamUnchangedWithoutSwitches",
     [](FakeRuntime& rt) { rt.commandText = L"-Silent  -Login User \"Quoted Name\""; },
     false,
     {"ShowForm", kRead, kReplace,
      "Shell C:\\Steam\\Steam.exe| -Silent  -Login User \"Quoted Name\"|1"},
     {{kLoginUsers, kOn}}},
};

// The listing names a row by its name, not by its bytes.
void PrintTo(const LoadRow& row, std::ostream* out) { *out << row.name; }

class FormLoadRows : public ::testing::TestWithParam<LoadRow> {};

TEST_P(FormLoadRows, ShowsTouchesAndLaunchesAsTheRowSays) {
    const LoadRow& row = GetParam();
    FakeRuntime rt;
    row.stage(rt);
    EXPECT_EQ(rt.Load(), row.ends);
    EXPECT_THAT(
        rt.CallsStartingWith("ShowForm", "MsgBox", "ErrorBox", "Read", "Replace", "Shell", "Quit"),
        ::testing::ElementsAreArray(row.visible));
    EXPECT_EQ(rt.files, row.filesAfter);
    if (row.loginUsersPath) {
        EXPECT_EQ(rt.form.LoginUsersPath, row.loginUsersPath);
    }
    if (row.ends) {
        EXPECT_EQ(rt.calls.back(), row.visible.back()) << "nothing after the end";
    }
    // One pass of events after the file step, one after the launch: none between.
    if (!row.ends) {
        EXPECT_THAT(rt.CallsStartingWith("DoEvents"), ::testing::SizeIs(2));
    }
}

INSTANTIATE_TEST_SUITE_P(FormLoad, FormLoadRows, ::testing::ValuesIn(kLoadRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FormEvents, QuitEndsAtOnceAndTheAddressOpensTheSystemExplorerMinimised) {
    FakeRuntime rt;
    EXPECT_FALSE(rt.Run([&] { rt.form.Label2_Click(); }));
    EXPECT_THAT(rt.calls,
                ElementsAre("Shell C:\\Windows\\explorer.exe| http://www.example.org/nimbrel/|2"));
    EXPECT_TRUE(rt.Run([&] { rt.form.Command1_Click(); }));
    EXPECT_THAT(rt.calls, ElementsAre(::testing::_, "End", "Quit 0"));
}

TEST(FormEvents, AnAddressThatCannotBeOpenedEndsThroughTheErrorBox) {
    FakeRuntime rt;
    rt.shellError = platform::errors::FileNotFound(L"C:\\Windows\\explorer.exe");
    EXPECT_TRUE(rt.Run([&] { rt.form.Label2_Click(); }));
    EXPECT_THAT(rt.CallsStartingWith("ErrorBox"), ElementsAre("ErrorBox 53 File not found"));
}

TEST(FormEvents, AFailureOfAnyKindEndsThroughTheErrorBoxNeverPastTheHandler) {
    FakeRuntime rt;
    EXPECT_TRUE(rt.Run([] { throw std::bad_alloc(); }));
    EXPECT_TRUE(rt.Run([] { throw 42; }));
    EXPECT_THAT(rt.CallsStartingWith("ErrorBox"),
                ElementsAre("ErrorBox 7 Out of memory", "ErrorBox 51 Internal error"));
}

TEST(FormDesign, ControlsAndTimersAreLaidOutAsDesigned) {
    FakeRuntime rt;
    const platform::FormDesign design = rt.form.Design();
    EXPECT_EQ(design.caption, L"Nimbrel - V. 0.1");
    EXPECT_EQ(design.clientWidth, 4560);
    EXPECT_EQ(design.clientHeight, 1335);
    ASSERT_EQ(design.timers.size(), 2u);
    EXPECT_EQ(design.timers[0].id, platform::FormTimer::RunSteamTimer);
    EXPECT_EQ(design.timers[0].intervalMs, 600u);
    EXPECT_EQ(design.timers[1].intervalMs, 2000u);
    ASSERT_EQ(design.controls.size(), 3u);
    EXPECT_EQ(design.controls[0].text, L"Quit");
    const std::wstring& usage = design.controls[2].text;
    EXPECT_EQ(usage.size(), 115u);
    EXPECT_EQ(usage.find(L"Command Parameter: -Online, -KillSteam,  -?"), 72u);
    // A click bound in the design reaches its handler through the event boundary.
    EXPECT_ANY_THROW(design.controls[0].onClick());  // the fake's Quit unwinds
    EXPECT_EQ(rt.calls.back(), "Quit 0");
}
