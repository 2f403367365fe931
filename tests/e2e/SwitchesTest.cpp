// The switches under Wine: -KillSteam against a real running stand-in, -Online, -?.
#include <gmock/gmock.h>

#include "Harness.h"

using namespace e2e;
using ::testing::IsEmpty;
using ::testing::SizeIs;

namespace {

class Switches : public EndToEnd {};

std::string Launched(const SteamFolder& steam, const std::string& arguments) {
    return "\"" + Utf8(steam.Path()) + "\\Steam.exe\"" + arguments;
}

}  // namespace

TEST_F(Switches, KillSteamEndsTheRunningClientAndStartsANewOneWithoutArguments) {
    SteamFolder steam(L"Steam-kill");
    steam.WriteLoginUsers("");
    std::wstring commandLine = L"\"" + steam.Path() + L"\\Steam.exe\" -old";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION old{};
    ASSERT_TRUE(::CreateProcessW((steam.Path() + L"\\Steam.exe").c_str(), commandLine.data(),
                                 nullptr, nullptr, FALSE, 0, nullptr, steam.Path().c_str(),
                                 &startup, &old));
    ::CloseHandle(old.hThread);
    ASSERT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));

    Launcher nimbrel(steam.Nimbrel(), L"-KillSteam", steam.Path());
    EXPECT_EQ(::WaitForSingleObject(old.hProcess, 5000), WAIT_OBJECT_0) << "the old Steam to end";
    DWORD exitCode = 0;
    ::GetExitCodeProcess(old.hProcess, &exitCode);
    ::CloseHandle(old.hProcess);
    EXPECT_EQ(exitCode, 1u) << "ended by the launcher";
    const auto starts = steam.WaitForSteamStarts(2);
    ASSERT_THAT(starts, SizeIs(2));
    EXPECT_EQ(starts[1].commandLine, Launched(steam, ""));
    EXPECT_EQ(nimbrel.WaitForExit(10000), 0u);
}

TEST_F(Switches, KillSteamWithNoneRunningStartsOnceWithTheRestLowerCased) {
    SteamFolder steam(L"Steam-kill-none");
    steam.WriteLoginUsers("");
    Launcher nimbrel(steam.Nimbrel(), L"-KILLSTEAM -Abc", steam.Path());
    ASSERT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
    EXPECT_EQ(nimbrel.WaitForExit(10000), 0u);
    const auto starts = steam.SteamStarts();
    ASSERT_THAT(starts, SizeIs(1));
    EXPECT_EQ(starts[0].commandLine, Launched(steam, " -abc"));
}

TEST_F(Switches, OnlineTurnsTheFlagsBackToZero) {
    SteamFolder steam(L"Steam-online");
    const std::string offline =
        "\"users\"\n{\n\t\"1\"\n\t{"
        "\n\t\t\"WantsOfflineMode\"\t\t\"1\"\n\t\t\"SkipOfflineModeWarning\"\t\t\"1\"\n"
        "\t\t\"MostRecent\"\t\t\"1\"\n\t}\n}\n";
    steam.WriteLoginUsers(offline);
    Launcher nimbrel(steam.Nimbrel(), L"-Online -Abc Def", steam.Path());
    ASSERT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
    EXPECT_EQ(nimbrel.Quit(), 0u);
    std::string online = offline;
    online.replace(online.find("Mode\"\t\t\"1\"") + 8, 1, "0");
    online.replace(online.find("Warning\"\t\t\"1\"") + 11, 1, "0");
    EXPECT_EQ(steam.ReadLoginUsers(), online);
    EXPECT_EQ(steam.SteamStarts()[0].commandLine, Launched(steam, " -abc def"));
}

TEST_F(Switches, QuestionMarkShowsTheUsageBoxAndTheRunGoesOnAfterIt) {
    SteamFolder steam(L"Steam-info");
    steam.WriteLoginUsers("\"WantsOfflineMode\"\t\t\"0\"\n");
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
    EXPECT_EQ(steam.ReadLoginUsers(), "\"WantsOfflineMode\"\t\t\"0\"\n");
    EXPECT_THAT(steam.SteamStarts(), IsEmpty());
    PressOk(box->window);
    const auto starts = steam.WaitForSteamStarts(1);
    ASSERT_THAT(starts, SizeIs(1));
    EXPECT_EQ(starts[0].commandLine, Launched(steam, " -?"));
    EXPECT_EQ(steam.ReadLoginUsers(), "\"WantsOfflineMode\"\t\t\"1\"\n");
    EXPECT_EQ(nimbrel.Quit(), 0u);
}
