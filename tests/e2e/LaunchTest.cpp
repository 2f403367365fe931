// A whole run under Wine: the launch of the stand-in Steam.exe, the captions, the timed exit.
#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>

#include <filesystem>

#include "Harness.h"

using namespace e2e;
using ::testing::IsEmpty;
using ::testing::SizeIs;

namespace {

class Launch : public EndToEnd {};

bool StillRunning(DWORD processId) {
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (!process) return false;
    const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    ::CloseHandle(process);
    return running;
}

}  // namespace

TEST_F(Launch, StartsSteamOnceWithTheArgumentsAndEndsAboutTwoSecondsLater) {
    SteamFolder steam(L"Steam-run");
    steam.WriteLoginUsers(Fixture("sample-bookishtrain.vdf"));
    Launcher nimbrel(steam.Nimbrel(), L"-Silent -Login \"A B\"", steam.Path());
    const auto starts = steam.WaitForSteamStarts(1);
    ASSERT_THAT(starts, SizeIs(1));
    const ULONGLONG launchedAt = ::GetTickCount64();
    EXPECT_EQ(starts[0].commandLine,
              "\"" + Utf8(steam.Path()) + "\\Steam.exe\" -Silent -Login \"A B\"");
    EXPECT_EQ(starts[0].workingDir, Utf8(steam.Path()))
        << "Steam inherits the launcher's working directory";
    EXPECT_TRUE(nimbrel.WaitForCaption(L"Loading Steam.exe", 1000));
    ASSERT_EQ(nimbrel.WaitForExit(10000), 0u);
    const ULONGLONG lived = ::GetTickCount64() - launchedAt;
    EXPECT_GE(lived, 1500u) << "the program waits for its exit timer";
    EXPECT_LE(lived, 5000u);
    EXPECT_THAT(steam.SteamStarts(), SizeIs(1)) << "a Steam that shows up is started once";
    EXPECT_TRUE(StillRunning(starts[0].processId));
}

TEST_F(Launch, QuitDuringThePendingExitEndsAtOnceAndSteamKeepsRunning) {
    SteamFolder steam(L"Steam-quit");
    steam.WriteLoginUsers("");
    Launcher nimbrel(steam.Nimbrel(), L"", steam.Path());
    HWND form = nimbrel.WaitForForm();
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(nimbrel.WaitForCaption(L"Loading Steam.exe"));
    const auto starts = steam.WaitForSteamStarts(1);
    ASSERT_THAT(starts, SizeIs(1));
    const ULONGLONG clickedAt = ::GetTickCount64();
    EXPECT_EQ(nimbrel.Quit(), 0u);
    EXPECT_LT(::GetTickCount64() - clickedAt, 1500u) << "Quit does not wait for the exit timer";
    EXPECT_TRUE(StillRunning(starts[0].processId));
}

TEST_F(Launch, SteamMissingFromTheProgramFolderEndsThroughTheErrorBox) {
    SteamFolder steam(L"Steam-nosteam", /*withSteam=*/false);
    steam.WriteLoginUsers("\"WantsOfflineMode\" \"0\"");
    // Started from a folder that does hold steam.exe, so only the launch can fail.
    SteamFolder other(L"Steam-other");
    Launcher nimbrel(steam.Nimbrel(), L"", other.Path());
    const auto box = nimbrel.WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->title, L"Nimbrel");
    EXPECT_EQ(box->text.rfind(L"Run-time error '53':\r\n\r\nFile not found", 0), 0u)
        << Utf8(box->text);
    EXPECT_EQ(nimbrel.Caption(), L"Loading Steam.exe");
    PressOk(box->window);
    EXPECT_EQ(nimbrel.WaitForExit(5000), 1u);
    EXPECT_EQ(steam.ReadLoginUsers(), "\"WantsOfflineMode\" \"1\"")
        << "the rewrite came before the launch";
    EXPECT_THAT(other.SteamStarts(), IsEmpty());
}

TEST_F(Launch, AFolderWithABlankNeverStartsADecoyBesideIt) {
    SteamFolder steam(L"Decoy\\Steam Dir");
    steam.WriteLoginUsers("");
    const std::wstring decoyFolder = steam.Path().substr(0, steam.Path().rfind(L'\\'));
    ::CopyFileW(FakeSteamExe().c_str(), (decoyFolder + L"\\Steam.exe").c_str(), FALSE);
    std::error_code ignored;
    std::filesystem::remove_all(decoyFolder + L"\\steam-starts", ignored);  // an earlier run's
    Launcher nimbrel(steam.Nimbrel(), L"-a  b", steam.Path());
    const auto starts = steam.WaitForSteamStarts(1);
    ASSERT_THAT(starts, SizeIs(1));
    EXPECT_EQ(starts[0].commandLine, "\"" + Utf8(steam.Path()) + "\\Steam.exe\" -a  b");
    EXPECT_EQ(nimbrel.Quit(), 0u);
    EXPECT_THAT(SteamStartsIn(decoyFolder), IsEmpty()) << "the decoy was started";
}

TEST_F(Launch, AProgramFolderAtADriveRootKeepsItsDoubleBackslashes) {
    SteamFolder steam(L"Steam-drive-root");  // the root of drive N: for the time of the case
    DriveLink drive(L'n', steam.Path());
    ASSERT_TRUE(drive.Made());
    WriteBytes(L"N:\\config\\loginusers.vdf", "\"WantsOfflineMode\"\t\t\"0\"\n");
    Launcher nimbrel(L"N:\\Nimbrel.exe", L"-r", L"N:\\");
    ASSERT_TRUE(WaitUntil("the stand-in's log on N:", 5000,
                          [] { return !SteamStartsIn(L"N:\\").empty(); }));
    EXPECT_EQ(SteamStartsIn(L"N:\\")[0].commandLine, "\"N:\\\\Steam.exe\" -r");
    EXPECT_EQ(nimbrel.Quit(), 0u);
    EXPECT_EQ(ReadBytes(L"N:\\config\\loginusers.vdf"), "\"WantsOfflineMode\"\t\t\"1\"\n");
}

TEST_F(Launch, AStartTheStandInCannotLogFailsTheCaseWithItsMessage) {
    static SteamFolder steam(L"Steam-unlogged");
    steam.WriteLoginUsers("");
    WriteBytes(steam.Path() + L"\\steam-starts", "");  // a file where its folder of starts goes
    Launcher nimbrel(steam.Nimbrel(), L"", steam.Path());
    EXPECT_NONFATAL_FAILURE(steam.WaitForSteamStarts(1),
                            "the stand-in Steam.exe says Stand-in Steam.exe: The stand-in "
                            "Steam.exe could not log its start");
    for (const Box& box : BoxesOf(L"Steam.exe")) PressOk(box.window);
    EXPECT_TRUE(WaitUntil("the stand-in to end once its box is closed", 5000,
                          [] { return ProcessesNamed(L"Steam.exe").empty(); }));
    EXPECT_EQ(nimbrel.Quit(), 0u) << "Nimbrel.exe started it all the same";
}
