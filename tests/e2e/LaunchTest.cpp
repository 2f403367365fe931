// A whole run under Wine: the launch of the stand-in Steam.exe, the captions, the timed exit.
#include <gtest/gtest-spi.h>

#include <deque>
#include <filesystem>

#include "Harness.h"

using namespace e2e;
using ::testing::Contains;

using Launch = EndToEnd;

TEST_F(Launch, StartsSteamOnceWithTheArgumentsAndEndsAboutTwoSecondsLater) {
    SteamFolder steam(L"Steam-run", Fixture("sample-bookishtrain.vdf"));
    Launcher nimbrel(steam.Nimbrel(), L"-Silent -Login \"A B\"", steam.Path());
    const auto starts = steam.WaitForSteamStarts(1);
    ASSERT_THAT(starts, SizeIs(1));
    const ULONGLONG launchedAt = ::GetTickCount64();
    EXPECT_EQ(starts[0].commandLine, SteamCommandLine(steam.Path(), " -Silent -Login \"A B\""));
    EXPECT_EQ(starts[0].workingDir, Narrow(steam.Path()))
        << "Steam inherits the launcher's working directory";
    EXPECT_TRUE(nimbrel.WaitForCaption(L"Loading Steam.exe", 1000));
    ASSERT_EQ(nimbrel.WaitForExit(10000), 0u);
    const ULONGLONG lived = ::GetTickCount64() - launchedAt;
    EXPECT_GE(lived, 1500u) << "the program waits for its exit timer";
    EXPECT_LE(lived, 5000u);
    EXPECT_THAT(steam.SteamStarts(), SizeIs(1)) << "a Steam that shows up is started once";
    EXPECT_THAT(ProcessesNamed(L"Steam.exe"), Contains(starts[0].processId));
}

TEST_F(Launch, QuitDuringThePendingExitEndsAtOnceAndSteamKeepsRunning) {
    SteamFolder steam(L"Steam-quit", "");
    Launcher nimbrel(steam.Nimbrel(), L"", steam.Path());
    ASSERT_NE(nimbrel.WaitForForm(), nullptr);
    ASSERT_TRUE(nimbrel.WaitForCaption(L"Loading Steam.exe"));
    const auto starts = steam.WaitForSteamStarts(1);
    ASSERT_THAT(starts, SizeIs(1));
    const ULONGLONG clickedAt = ::GetTickCount64();
    EXPECT_EQ(nimbrel.Quit(), 0u);
    EXPECT_LT(::GetTickCount64() - clickedAt, 1500u) << "Quit does not wait for the exit timer";
    EXPECT_THAT(ProcessesNamed(L"Steam.exe"), Contains(starts[0].processId));
}

TEST_F(Launch, AStartTheStandInCannotLogFailsTheCaseWithItsMessage) {
    static SteamFolder steam(L"Steam-unlogged", "");
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

// The runs that go straight through: the file rewritten, Steam started once with the arguments.
namespace {

void DriveRoot(const SteamFolder& steam, const Run& run) {
    NIMBREL_STAGE(drive, testbed::DriveLink(L'n', steam.Path()));
    ASSERT_TRUE(drive.Made());
    run(L"N:\\");
}

// A decoy Steam.exe (the stand-in) in the folder above, where a path cut at its blank leads.
void ADecoyAbove(const SteamFolder& steam, const Run& run) {
    const std::wstring decoyFolder = steam.Path().substr(0, steam.Path().rfind(L'\\'));
    ::CopyFileW(FakeSteamExe().c_str(), (decoyFolder + L"\\Steam.exe").c_str(), FALSE);
    std::error_code ignored;
    std::filesystem::remove_all(decoyFolder + L"\\steam-starts", ignored);  // an earlier run's
    run(steam.Path());
    EXPECT_THAT(SteamStartsIn(decoyFolder), IsEmpty()) << "the decoy was started";
}

enum class End { ByQuit, ByItself };  // through the Quit button, or its own (timed) end

struct Through {
    const char* name;
    Stage stage;  // for the first copy
    const wchar_t* folder;
    int copies;              // side by side, each in a folder of its own: folder, folder-2, ...
    const char* crLfSample;  // the file before: this sample, its LF line ends made CR LF, or
    std::string before;      // without one, these bytes
    const wchar_t* arguments;
    const char* passed;  // what follows Steam.exe's quoted path on its command line
    char flags;          // the offline flags in the file afterwards, '1' or '0'
    End end;
};

void PrintTo(const Through& row, std::ostream* out) { *out << row.name; }

const Through kThroughs[] = {
    {"CrLfLineEnds", ItsFolder, L"Steam-crlf", 1, "sample-steambackup.vdf", "", L"", "", '1',
     End::ByQuit},
    {"NonAnsiFolderName", ItsFolder, L"Spiele-\u00dc-\u6e38\u620f", 1, nullptr,
     "\"SkipOfflineModeWarning\"\t\t\"0\"\r\n", L"-x \"\u00dcber \u6e38\"",
     " -x \"\u00dcber \u6e38\"", '1', End::ByQuit},
    {"FolderWithABlank", ADecoyAbove, L"Decoy\\Steam Dir", 1, nullptr, "", L"-a  b", " -a  b", '1',
     End::ByQuit},
    // The program's folder as the system gives it, with its backslash: "N:\\Steam.exe".
    {"DriveRoot", DriveRoot, L"Steam-drive-root", 1, nullptr, kOnline, L"-r", " -r", '1',
     End::ByQuit},
    {"KillSteamWithNoneRunning", ItsFolder, L"Steam-kill-none", 1, nullptr, "", L"-KILLSTEAM -Abc",
     " -abc", '1', End::ByItself},
    {"Online", ItsFolder, L"Steam-online", 1, nullptr,
     "\"users\"\n{\n\t\"1\"\n\t{\n\t\t\"WantsOfflineMode\"\t\t\"1\"\n"
     "\t\t\"SkipOfflineModeWarning\"\t\t\"1\"\n\t\t\"MostRecent\"\t\t\"1\"\n\t}\n}\n",
     L"-Online -Abc Def", " -abc def", '0', End::ByQuit},
    {"TwoCopiesInTwoFolders", ItsFolder, L"Steam-copy", 2, nullptr, "", L"", "", '1',
     End::ByItself},
};

class StraightThrough : public EndToEnd, public ::testing::WithParamInterface<Through> {};

}  // namespace

TEST_P(StraightThrough, RewritesTheFileAndStartsSteamOnceWithTheArguments) {
    const Through& row = GetParam();
    const std::string before = row.crLfSample ? CrLf(Fixture(row.crLfSample)) : row.before;
    std::vector<SteamFolder> steams;
    for (int n = 1; n <= row.copies; ++n)
        steams.emplace_back(n == 1 ? row.folder : row.folder + (L"-" + std::to_wstring(n)), before);
    row.stage(steams[0], [&](const std::wstring& first) {
        std::vector<std::wstring> folders{first};
        for (std::size_t i = 1; i < steams.size(); ++i) folders.push_back(steams[i].Path());
        std::deque<Launcher> copies;
        for (const std::wstring& folder : folders)
            copies.emplace_back((std::filesystem::path(folder) / L"Nimbrel.exe").wstring(),
                                row.arguments, folder);
        for (const SteamFolder& steam : steams) ASSERT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
        for (const auto& copy : copies)
            EXPECT_EQ(row.end == End::ByQuit ? copy.Quit() : copy.WaitForExit(10000), 0u);
        for (const std::wstring& folder : folders) {
            const auto starts = SteamStartsIn(folder);
            ASSERT_THAT(starts, SizeIs(1)) << "a Steam is started once";
            EXPECT_EQ(starts[0].commandLine, SteamCommandLine(folder, row.passed));
            const std::string after =
                ReadBytes(std::filesystem::path(folder) / L"config" / L"loginusers.vdf");
            EXPECT_EQ(after.size(), before.size()) << "the file does not grow";
            EXPECT_EQ(after, Flagged(before, row.flags));
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Launch, StraightThrough, ::testing::ValuesIn(kThroughs),
                         [](const auto& info) { return std::string(info.param.name); });
