// The start-up under Wine: file checks, their boxes, and the rewrite of loginusers.vdf.
#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>

#include <algorithm>

#include "Harness.h"

using namespace e2e;
using ::testing::IsEmpty;
using ::testing::SizeIs;

namespace {

const std::wstring kCheckTitle = L"Steam.exe not found!";
const std::wstring kMustBe = L".exe must be in the Steam-Directory, where the steam.exe is located";

std::string Offline(std::string text) {
    // Independent of the product's rewrite: the two flag lines as Steam writes them.
    for (const std::string key : {"\"WantsOfflineMode\"\t\t", "\"SkipOfflineModeWarning\"\t\t"}) {
        for (auto at = text.find(key + "\"0\""); at != std::string::npos;
             at = text.find(key + "\"0\"", at))
            text[at + key.size() + 1] = '1';
    }
    return text;
}

// The one-account sample with count accounts in all, each under an id of its own.
std::string WithAccounts(int count) {
    const std::string sample = Fixture("sample-steambackup.vdf");
    const auto first = sample.find("\t\"7656"), last = sample.rfind('}');
    const std::string account = sample.substr(first, last - first);
    std::string text = sample.substr(0, first);
    for (int n = 0; n < count; ++n)
        text += account.substr(0, 8) + std::to_string(100000000 + n) + account.substr(17);
    return text + sample.substr(last);
}

// The sample's LF line ends turned to CR LF.
std::string CrLf(const std::string& lf) {
    std::string crlf;
    for (char c : lf) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    return crlf;
}

class Startup : public EndToEnd {};

}  // namespace

TEST_F(Startup, FlipsTheFlagsOfARealFileByteExactAndASecondRunWritesNothing) {
    SteamFolder steam(L"Steam-default");
    const std::string original = Fixture("sample-bookishtrain.vdf");
    steam.WriteLoginUsers(original);
    {
        Launcher nimbrel(steam.Nimbrel(), L"", steam.Path());
        ASSERT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
        ASSERT_EQ(nimbrel.Quit(), 0u);
    }
    const std::string expected = Offline(original);
    ASSERT_NE(expected, original);
    EXPECT_EQ(steam.ReadLoginUsers(), expected);
    EXPECT_THAT(steam.Files(L"config"), ::testing::ElementsAre(L"loginusers.vdf"));

    const FILETIME before = LastWriteTime(steam.LoginUsers());
    ::Sleep(50);
    {
        Launcher nimbrel(steam.Nimbrel(), L"", steam.Path());
        ASSERT_THAT(steam.WaitForSteamStarts(2), SizeIs(2));
        ASSERT_EQ(nimbrel.Quit(), 0u);
    }
    EXPECT_EQ(steam.ReadLoginUsers(), expected);
    EXPECT_TRUE(SameTime(before, LastWriteTime(steam.LoginUsers())))
        << "an unchanged file is not rewritten";
}

TEST_F(Startup, KeepsCrLfLineEndsAndDoesNotGrow) {
    SteamFolder steam(L"Steam-crlf");
    const std::string crlf = CrLf(Fixture("sample-steambackup.vdf"));  // from a real LF file
    steam.WriteLoginUsers(crlf);
    Launcher nimbrel(steam.Nimbrel(), L"", steam.Path());
    ASSERT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
    ASSERT_EQ(nimbrel.Quit(), 0u);
    const std::string after = steam.ReadLoginUsers();
    EXPECT_EQ(after.size(), crlf.size());
    EXPECT_EQ(after, Offline(crlf));
}

TEST(Samples, OnesWhoseLineEndsTheCheckoutTurnedToCrLfAreCaught) {
    SteamFolder checkout(L"Samples-crlf", /*withSteam=*/false);
    WriteBytes(checkout.Path() + L"\\sample-steambackup.vdf",
               CrLf(Fixture("sample-steambackup.vdf")));
    const wchar_t* was = ::_wgetenv(L"NIMBREL_FIXTURES");
    const std::wstring restore = L"NIMBREL_FIXTURES=" + std::wstring(was ? was : L"");
    ::_wputenv((L"NIMBREL_FIXTURES=" + checkout.Path()).c_str());
    EXPECT_NONFATAL_FAILURE(Fixture("sample-steambackup.vdf"), "the checkout changed line ends");
    ::_wputenv(restore.c_str());
}

TEST_F(Startup, SteamMissingFromTheWorkingDirectoryShowsItsBoxThenGoesOn) {
    SteamFolder steam(L"Steam-elsewhere");
    steam.WriteLoginUsers("\"WantsOfflineMode\"\t\t\"0\"\n");
    Launcher nimbrel(steam.Nimbrel(), L"", steam.Path() + L"\\config");
    const auto box = nimbrel.WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->title, kCheckTitle);
    EXPECT_EQ(box->text, L"Steam.exe not found - Nimbrel" + kMustBe);
    EXPECT_EQ(steam.ReadLoginUsers(), "\"WantsOfflineMode\"\t\t\"0\"\n")
        << "the box comes before the rewrite";
    PressOk(box->window);
    EXPECT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
    EXPECT_EQ(steam.ReadLoginUsers(), "\"WantsOfflineMode\"\t\t\"1\"\n");
    EXPECT_EQ(nimbrel.Quit(), 0u);
}

TEST_F(Startup, MissingLoginUsersFileGivesTwoBoxesEndsAndCreatesNothing) {
    SteamFolder steam(L"Steam-nofile");
    Launcher nimbrel(steam.Nimbrel(), L"", steam.Path());
    auto box = nimbrel.WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->title, kCheckTitle);
    EXPECT_EQ(box->text, steam.LoginUsers() + L"\r\rnot found.\rNimbrel" + kMustBe);
    PressOk(box->window);
    box = nimbrel.WaitForBoxTitled(L"Nimbrel");
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text.rfind(L"Run-time error '53':\r\n\r\nFile not found", 0), 0u)
        << Utf8(box->text);
    PressOk(box->window);
    EXPECT_EQ(nimbrel.WaitForExit(5000), 1u);
    EXPECT_THAT(steam.Files(L"config"), IsEmpty());
    EXPECT_THAT(steam.SteamStarts(), IsEmpty());
}

TEST_F(Startup, FileThatCannotBeReplacedIsLeftUntouchedAndTheErrorShown) {
    struct Case {
        const wchar_t* name;
        int number;
    };
    for (const Case c : {Case{L"read-only", 75}, Case{L"locked", 70}}) {
        SCOPED_TRACE(Utf8(c.name));
        SteamFolder steam(std::wstring(L"Steam-") + c.name);
        const std::string original = Fixture("sample-steambackup.vdf");
        steam.WriteLoginUsers(original);
        HANDLE lock = INVALID_HANDLE_VALUE;
        if (c.number == 75) {
            ::SetFileAttributesW(steam.LoginUsers().c_str(), FILE_ATTRIBUTE_READONLY);
        } else {  // another program holds it open for reading, sharing nothing but reads
            lock = ::CreateFileW(steam.LoginUsers().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(lock, INVALID_HANDLE_VALUE);
        }
        Launcher nimbrel(steam.Nimbrel(), L"", steam.Path());
        const auto box = nimbrel.WaitForBox();
        ASSERT_TRUE(box);
        EXPECT_EQ(box->title, L"Nimbrel");
        EXPECT_EQ(box->text.rfind(L"Run-time error '" + std::to_wstring(c.number) + L"'", 0), 0u)
            << Utf8(box->text);
        EXPECT_NE(box->text.find(steam.LoginUsers()), std::wstring::npos)
            << "the box names the file";
        PressOk(box->window);
        EXPECT_EQ(nimbrel.WaitForExit(5000), 1u);
        if (lock != INVALID_HANDLE_VALUE) ::CloseHandle(lock);
        EXPECT_EQ(steam.ReadLoginUsers(), original);
        EXPECT_THAT(steam.Files(L"config"), ::testing::ElementsAre(L"loginusers.vdf"))
            << "no temporary file left";
        EXPECT_THAT(steam.SteamStarts(), IsEmpty());
    }
}

TEST_F(Startup, AFileThatAnotherProgramHoldsForAMomentIsWaitedOut) {
    SteamFolder steam(L"Steam-scanned");
    const std::string original = Fixture("sample-steambackup.vdf");
    steam.WriteLoginUsers(original);
    // As a virus scanner does: open for reading, sharing reads only, from just before the start.
    HANDLE scanner = ::CreateFileW(steam.LoginUsers().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
    Launcher nimbrel(steam.Nimbrel(), L"", steam.Path());
    ::Sleep(700);
    EXPECT_EQ(steam.ReadLoginUsers(), original) << "nothing was written while the file was held";
    ::CloseHandle(scanner);
    EXPECT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
    EXPECT_EQ(nimbrel.Quit(), 0u);
    EXPECT_THAT(steam.SteamStarts(), SizeIs(1));
    EXPECT_EQ(steam.ReadLoginUsers(), Offline(original));
    EXPECT_THAT(steam.Files(L"config"), ::testing::ElementsAre(L"loginusers.vdf"));
}

TEST_F(Startup, AFolderInPlaceOfTheFileIsReportedNotTouched) {
    SteamFolder steam(L"Steam-dir");
    ::CreateDirectoryW(steam.LoginUsers().c_str(), nullptr);
    Launcher nimbrel(steam.Nimbrel(), L"", steam.Path());
    auto box = nimbrel.WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->title, kCheckTitle);
    PressOk(box->window);
    box = nimbrel.WaitForBoxTitled(L"Nimbrel");
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text.rfind(L"Run-time error '75'", 0), 0u) << Utf8(box->text);
    PressOk(box->window);
    EXPECT_EQ(nimbrel.WaitForExit(5000), 1u);
    EXPECT_TRUE(::GetFileAttributesW(steam.LoginUsers().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(Startup, WorksInAFolderWithANonAnsiName) {
    SteamFolder steam(L"Spiele-\u00dc-\u6e38\u620f");
    steam.WriteLoginUsers("\"SkipOfflineModeWarning\"\t\t\"0\"\r\n");
    Launcher nimbrel(steam.Nimbrel(), L"-x \"\u00dcber \u6e38\"", steam.Path());
    const auto starts = steam.WaitForSteamStarts(1);
    ASSERT_THAT(starts, SizeIs(1));
    EXPECT_EQ(starts[0].commandLine,
              "\"" + Utf8(steam.Path()) + "\\Steam.exe\" -x \"\u00dcber \u6e38\"");
    EXPECT_EQ(nimbrel.Quit(), 0u);
    EXPECT_EQ(steam.ReadLoginUsers(), "\"SkipOfflineModeWarning\"\t\t\"1\"\r\n");
}

TEST_F(Startup, AnotherProgramsSaveMeanwhileIsKeptAndGetsTheFlagsToo) {
    const std::string original = WithAccounts(1);
    std::string sameSize = original;  // another account id, of as many digits
    sameSize.replace(sameSize.find("100000000"), 9, "199999999");
    struct Case {
        const wchar_t* name;
        std::string newer;
        bool sameTick;  // the time stamp as before: the file system's clock has not ticked
    };
    for (const Case& c : {Case{L"Steam-saved-meanwhile", WithAccounts(2), false},
                          Case{L"Steam-saved-within-a-tick", sameSize, true}}) {
        SCOPED_TRACE(Utf8(c.name));
        SteamFolder steam(c.name);
        steam.WriteLoginUsers(original);
        // Steam saving the file as it shuts down: a writer that lets others only read.
        HANDLE writer = ::CreateFileW(steam.LoginUsers().c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(writer, INVALID_HANDLE_VALUE);
        FILETIME before;
        ASSERT_TRUE(::GetFileTime(writer, nullptr, nullptr, &before));
        Launcher nimbrel(steam.Nimbrel(), L"", steam.Path());
        // Its new copy beside the file shows that Nimbrel has read the old text.
        const std::wstring copy = steam.LoginUsers() + L".nimbrel-tmp";
        ASSERT_TRUE(WaitUntil("Nimbrel.exe's new copy beside the file", 10000, [&] {
            return ::GetFileAttributesW(copy.c_str()) != INVALID_FILE_ATTRIBUTES;
        }));
        DWORD written = 0;
        ::WriteFile(writer, c.newer.data(), static_cast<DWORD>(c.newer.size()), &written, nullptr);
        if (c.sameTick) {
            ASSERT_TRUE(::SetFileTime(writer, nullptr, nullptr, &before));
        }
        ::Sleep(200);
        ::CloseHandle(writer);
        EXPECT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
        EXPECT_EQ(nimbrel.Quit(), 0u);
        EXPECT_EQ(steam.ReadLoginUsers(), Offline(c.newer)) << "the other program's save is kept";
        EXPECT_THAT(steam.SteamStarts(), SizeIs(1));
        EXPECT_THAT(steam.Files(L"config"), ::testing::ElementsAre(L"loginusers.vdf"));
    }
}

TEST_F(Startup, AFullDriveIsReportedForTheUsersFileWhichStaysAsItWas) {
    SteamFolder steam(L"Steam-full");
    const testbed::SmallVolume drive(steam.Path() + L"\\config");
    if (!drive.WhyNot().empty()) GTEST_SKIP() << drive.WhyNot();
    // Room for the file, but not for a second copy of it: three fifths of the volume.
    const ULONGLONG room = drive.Free();
    const std::size_t account = WithAccounts(2).size() - WithAccounts(1).size();
    const std::string original = WithAccounts(static_cast<int>(room * 3 / 5 / account));
    ASSERT_GT(original.size(), room / 2);
    steam.WriteLoginUsers(original);
    ASSERT_EQ(steam.ReadLoginUsers(), original);
    Launcher nimbrel(steam.Nimbrel(), L"", steam.Path());
    const auto box = nimbrel.WaitForBox(10000);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, L"Run-time error '61':\r\n\r\nDisk full\r\n\r\n" + steam.LoginUsers());
    PressOk(box->window);
    EXPECT_EQ(nimbrel.WaitForExit(5000), 1u);
    EXPECT_EQ(steam.ReadLoginUsers(), original);
    // Windows may give a volume of its own the system's folder at its root, as it does any.
    std::vector<std::wstring> beside = steam.Files(L"config");
    beside.erase(std::remove(beside.begin(), beside.end(), L"System Volume Information"),
                 beside.end());
    EXPECT_THAT(beside, ::testing::ElementsAre(L"loginusers.vdf"));
    EXPECT_THAT(steam.SteamStarts(), IsEmpty());
}
