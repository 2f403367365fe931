// The start-up under Wine: file checks, their boxes, and the rewrite of loginusers.vdf.
#include <gtest/gtest-spi.h>

#include <algorithm>
#include <optional>

#include "Harness.h"
#include "SmallVolume.h"

using namespace e2e;
using Startup = EndToEnd;

const std::wstring kCheckTitle = L"Steam.exe not found!";
const std::wstring kMustBe = L".exe must be in the Steam-Directory, where the steam.exe is located";

TEST_F(Startup, FlipsTheFlagsOfARealFileByteExactAndASecondRunWritesNothing) {
    const std::string original = Fixture("sample-bookishtrain.vdf");
    SteamFolder steam(L"Steam-default", original);
    Launcher first(steam.Nimbrel(), L"", steam.Path());
    ASSERT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
    ASSERT_EQ(first.Quit(), 0u);
    const std::string expected = Flagged(original);
    ASSERT_NE(expected, original);
    EXPECT_EQ(steam.ReadLoginUsers(), expected);
    EXPECT_THAT(steam.Files(L"config"), ElementsAre(L"loginusers.vdf"));

    const ULONGLONG before = LastWriteTime(steam.LoginUsers());
    ::Sleep(50);
    Launcher second(steam.Nimbrel(), L"", steam.Path());
    ASSERT_THAT(steam.WaitForSteamStarts(2), SizeIs(2));
    ASSERT_EQ(second.Quit(), 0u);
    EXPECT_EQ(steam.ReadLoginUsers(), expected);
    EXPECT_EQ(LastWriteTime(steam.LoginUsers()), before) << "an unchanged file is not rewritten";
}

TEST(Samples, OnesWhoseLineEndsTheCheckoutTurnedToCrLfAreCaught) {
    const std::wstring checkout = testbed::ScratchFolder(L"Samples-crlf");
    WriteBytes(checkout + L"\\sample-steambackup.vdf", CrLf(Fixture("sample-steambackup.vdf")));
    const testbed::ScopedVariable fixtures(L"NIMBREL_FIXTURES", checkout);
    EXPECT_NONFATAL_FAILURE(Fixture("sample-steambackup.vdf"), "the checkout changed line ends");
}

TEST_F(Startup, SteamMissingFromTheWorkingDirectoryShowsItsBoxThenGoesOn) {
    SteamFolder steam(L"Steam-elsewhere", kOnline);
    Launcher nimbrel(steam.Nimbrel(), L"", steam.Elsewhere());
    const auto box = nimbrel.WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->title, kCheckTitle);
    EXPECT_EQ(box->text, L"Steam.exe not found - Nimbrel" + kMustBe);
    EXPECT_EQ(steam.ReadLoginUsers(), kOnline) << "the box comes before the rewrite";
    PressOk(box->window);
    EXPECT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
    EXPECT_EQ(steam.ReadLoginUsers(), Flagged(kOnline));
    EXPECT_EQ(nimbrel.Quit(), 0u);
}

TEST_F(Startup, AFileThatAnotherProgramHoldsForAMomentIsWaitedOut) {
    const std::string original = Fixture("sample-steambackup.vdf");
    SteamFolder steam(L"Steam-scanned", original);
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
    EXPECT_EQ(steam.ReadLoginUsers(), Flagged(original));
    EXPECT_THAT(steam.Files(L"config"), ElementsAre(L"loginusers.vdf"));
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
        SCOPED_TRACE(Narrow(c.name));
        SteamFolder steam(c.name, original);
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
        EXPECT_EQ(steam.ReadLoginUsers(), Flagged(c.newer)) << "the other program's save is kept";
        EXPECT_THAT(steam.SteamStarts(), SizeIs(1));
        EXPECT_THAT(steam.Files(L"config"), ElementsAre(L"loginusers.vdf"));
    }
}

// The start-ups that end without Steam: each stops at a box and ends with exit code 1, leaving
// the file (and what is beside it) as the row says.
namespace {

void ReadOnlyFile(const SteamFolder& steam, const Run& run) {
    steam.WriteLoginUsers(Fixture("sample-steambackup.vdf"));
    ::SetFileAttributesW(steam.LoginUsers().c_str(), FILE_ATTRIBUTE_READONLY);
    run(steam.Path());
}

void LockedFile(const SteamFolder& steam, const Run& run) {
    steam.WriteLoginUsers(Fixture("sample-steambackup.vdf"));
    // Another program holds it open for reading, sharing nothing but reads.
    HANDLE lock = ::CreateFileW(steam.LoginUsers().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    run(steam.Path());
    ::CloseHandle(lock);
}

void FolderInPlaceOfTheFile(const SteamFolder& steam, const Run& run) {
    ::CreateDirectoryW(steam.LoginUsers().c_str(), nullptr);
    run(steam.Path());
    EXPECT_TRUE(::GetFileAttributesW(steam.LoginUsers().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

void FullDrive(const SteamFolder& steam, const Run& run) {
    NIMBREL_STAGE(drive, testbed::SmallVolume(steam.Path() + L"\\config"));
    // Room for the file, but not for a second copy of it: three fifths of the volume.
    const ULONGLONG room = drive.Free();
    const std::size_t account = WithAccounts(2).size() - WithAccounts(1).size();
    const std::string original = WithAccounts(static_cast<int>(room * 3 / 5 / account));
    ASSERT_GT(original.size(), room / 2);
    steam.WriteLoginUsers(original);
    ASSERT_EQ(steam.ReadLoginUsers(), original);
    run(steam.Path());
}

void OneFlagToSet(const SteamFolder& steam, const Run& run) {
    steam.WriteLoginUsers("\"WantsOfflineMode\" \"0\"");
    run(steam.Path());
}

// A box the run shows: its title, and its text as a pattern: "%F" stands for the path of
// loginusers.vdf, '*' for any text.
struct BoxSeen {
    std::wstring title, text;
};
using Boxes = std::vector<BoxSeen>;

enum class From { ItsFolder, AnotherSteamFolder };  // the working directory, with a Steam.exe

struct Stop {
    const char* name;
    Stage stage;
    bool steamBeside;  // the stand-in as Steam.exe in Nimbrel's folder
    From from;
    Boxes boxes;                       // in their order, each closed with OK
    std::wstring caption;              // while the boxes show
    std::optional<std::string> after;  // the file at the end; nothing: as it was before
};

void PrintTo(const Stop& row, std::ostream* out) { *out << row.name; }

const std::wstring kVersion = L"Nimbrel - V. 0.1";
const BoxSeen kNotFound{L"Nimbrel", L"Run-time error '53':\r\n\r\nFile not found*"};
const Stop kStops[] = {
    {"MissingFile", ItsFolder, true, From::ItsFolder,
     Boxes{{kCheckTitle, L"%F\r\rnot found.\rNimbrel" + kMustBe}, kNotFound}, kVersion,
     std::nullopt},
    {"ReadOnlyFile", ReadOnlyFile, true, From::ItsFolder,
     Boxes{{L"Nimbrel", L"Run-time error '75'*%F*"}}, kVersion, std::nullopt},
    {"LockedFile", LockedFile, true, From::ItsFolder,
     Boxes{{L"Nimbrel", L"Run-time error '70'*%F*"}}, kVersion, std::nullopt},
    {"FolderInPlaceOfTheFile", FolderInPlaceOfTheFile, true, From::ItsFolder,
     Boxes{{kCheckTitle, L"*"}, {L"Nimbrel", L"Run-time error '75'*"}}, kVersion, std::nullopt},
    {"FullDrive", FullDrive, true, From::ItsFolder,
     Boxes{{L"Nimbrel", L"Run-time error '61':\r\n\r\nDisk full\r\n\r\n%F"}}, kVersion,
     std::nullopt},
    // Started from a folder that does hold steam.exe, so only the launch can fail: the rewrite
    // came before it.
    {"NoSteamInTheProgramFolder", OneFlagToSet, false, From::AnotherSteamFolder, Boxes{kNotFound},
     L"Loading Steam.exe", "\"WantsOfflineMode\" \"1\""},
};

// Whether the text fits the pattern, '*' standing for any text.
bool Fits(const wchar_t* pattern, const wchar_t* text) {
    if (*pattern == L'*') return Fits(pattern + 1, text) || (*text && Fits(pattern, text + 1));
    return *pattern == *text && (!*text || Fits(pattern + 1, text + 1));
}

class EndsWithoutSteam : public EndToEnd, public ::testing::WithParamInterface<Stop> {};

// What the config folder holds: Windows may give a volume of its own the system's folder at its
// root, as it does any; Wine's small volume has none.
std::vector<std::wstring> Beside(const SteamFolder& steam) {
    std::vector<std::wstring> names = steam.Files(L"config");
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::wstring& name) {
                                   return testbed::Broken(name == L"System Volume Information");
                               }),
                names.end());
    return names;
}

}  // namespace

TEST_P(EndsWithoutSteam, ShowsItsBoxesThenEnds) {
    const Stop& row = GetParam();
    SteamFolder steam(L"Steam-" + Widen(row.name), std::nullopt, row.steamBeside);
    std::optional<SteamFolder> other;
    if (row.from == From::AnotherSteamFolder) other.emplace(L"Steam-other");
    row.stage(steam, [&](const std::wstring& folder) {
        const std::string before = steam.ReadLoginUsers();
        const std::vector<std::wstring> beside = Beside(steam);
        Launcher nimbrel(folder + L"\\Nimbrel.exe", L"", other ? other->Path() : folder);
        for (std::size_t i = 0; i < row.boxes.size(); ++i) {
            const BoxSeen& seen = row.boxes[i];
            const auto box =
                i == 0 ? nimbrel.WaitForBox(10000) : nimbrel.WaitForBox(5000, seen.title);
            ASSERT_TRUE(box);
            EXPECT_EQ(box->title, seen.title);
            std::wstring text = seen.text;
            if (const auto at = text.find(L"%F"); at != std::wstring::npos)
                text.replace(at, 2, steam.LoginUsers());
            EXPECT_TRUE(Fits(text.c_str(), box->text.c_str()))
                << "the box's text does not fit " << Narrow(text) << ":\n"
                << Narrow(box->text);
            EXPECT_EQ(nimbrel.Caption(), row.caption);
            PressOk(box->window);
        }
        EXPECT_EQ(nimbrel.WaitForExit(5000), 1u);
        EXPECT_EQ(steam.ReadLoginUsers(), row.after.value_or(before));
        EXPECT_EQ(Beside(steam), beside) << "no file left beside it";
        EXPECT_THAT(steam.SteamStarts(), IsEmpty());
        if (other) {
            EXPECT_THAT(other->SteamStarts(), IsEmpty());
        }
    });
}

INSTANTIATE_TEST_SUITE_P(Startup, EndsWithoutSteam, ::testing::ValuesIn(kStops),
                         [](const auto& info) { return std::string(info.param.name); });
