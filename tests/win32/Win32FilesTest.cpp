// Files for real, under Wine: the lookup, the whole-file read and the atomic replace.
#include <gmock/gmock.h>

#include "DeniedFolder.h"
#include "Win32Fixture.h"

using ::testing::Eq;
using ::testing::Ne;

namespace {

// Replaces file with bytes through the write-back, as made from the text there now (if any).
void ReplaceWith(const std::wstring& file, const std::string& bytes) {
    std::string text;
    try {
        text = Runtime().ReadFileBytes(file);
    } catch (const platform::RuntimeError&) {}
    Runtime().RewriteFile(file, text, [&](std::string& to) { return (to = bytes), true; });
}

}  // namespace

TEST(ReplaceFileBytes, ReplacesTheWholeFileAndKeepsItsAttributes) {
    const std::wstring folder = testbed::ScratchFolder(L"replace");
    const std::wstring file = folder + L"\\loginusers.vdf";
    testbed::WriteBytes(file, "old content that is longer than the new one");
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN);
    const std::string content("new\0\r\n\xff", 7);
    ReplaceWith(file, content);
    EXPECT_EQ(testbed::ReadBytes(file), content);
    EXPECT_TRUE(::GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_THAT(FilesIn(folder), ::testing::ElementsAre(L"loginusers.vdf"));
}

TEST(ReplaceFileBytes, AnyFailureLeavesTheOriginalAndNoTemporaryFile) {
    enum class There { File, Nothing, Folder };
    struct Case {
        const char* name;
        There there;                     // at the file's path; a file holds "original"
        DWORD attributes;                // the file's, 0 to leave them
        bool locked;                     // another program reads it and shares reading only
        ::testing::Matcher<int> number;  // of the error raised
    };
    for (const Case& c : {Case{"read-only", There::File, FILE_ATTRIBUTE_READONLY, false, Eq(75)},
                          Case{"locked", There::File, 0, true, Eq(70)},
                          Case{"missing", There::Nothing, 0, false, Eq(53)},
                          Case{"folder", There::Folder, 0, false, Ne(0)}}) {
        SCOPED_TRACE(c.name);
        const std::wstring folder = testbed::ScratchFolder(L"fail");
        const std::wstring file = folder + L"\\loginusers.vdf";
        if (c.there == There::Folder) ::CreateDirectoryW(file.c_str(), nullptr);
        if (c.there == There::File) testbed::WriteBytes(file, "original");
        if (c.attributes) ::SetFileAttributesW(file.c_str(), c.attributes);
        HANDLE lock = c.locked ? ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                               OPEN_EXISTING, 0, nullptr)
                               : INVALID_HANDLE_VALUE;
        const int number = ErrorNumber([&] { ReplaceWith(file, "replaced"); });
        if (lock != INVALID_HANDLE_VALUE) ::CloseHandle(lock);
        EXPECT_THAT(number, c.number);
        if (c.there == There::Folder) {
            EXPECT_TRUE(::GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
        }
        if (c.there == There::File) {
            EXPECT_EQ(testbed::ReadBytes(file), "original");
        }
        EXPECT_EQ(FilesIn(folder).size(), c.there == There::Nothing ? 0u : 1u)
            << "temporary file left";
    }
}

TEST(ReplaceFileBytes, AFolderThatMayNotBeWrittenIsReportedAsSuchAndLeftAsItWas) {
    const std::wstring folder = testbed::ScratchFolder(L"unwritable");
    const std::wstring file = folder + L"\\loginusers.vdf";
    testbed::WriteBytes(file, "original");
    // A folder's read-only attribute means nothing on Windows, nor under Wine: the folder's own
    // permissions are taken away.
    int number = 0;
    {
        NIMBREL_STAGE(denied, testbed::FolderWritesDenied(folder));
        number = ErrorNumber([&] { ReplaceWith(file, "replaced"); });
    }
    EXPECT_EQ(number, 75) << "access denied, not a missing file";
    EXPECT_EQ(testbed::ReadBytes(file), "original");
    EXPECT_THAT(FilesIn(folder), ::testing::ElementsAre(L"loginusers.vdf"));
}

TEST(ReplaceFileBytes, ALeftoverOfAnInterruptedRunNeverBlocksTheNextOne) {
    // What a run killed between the attributes and the rename leaves: the new file, already
    // hidden and system like the original; or one somebody made read-only.
    constexpr DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    for (const DWORD leftover : {kHiddenSystem, kHiddenSystem | FILE_ATTRIBUTE_READONLY}) {
        SCOPED_TRACE(leftover);
        const std::wstring folder = testbed::ScratchFolder(L"leftover");
        const std::wstring file = folder + L"\\loginusers.vdf";
        testbed::WriteBytes(file, "original");
        ::SetFileAttributesW(file.c_str(), kHiddenSystem);
        testbed::WriteBytes(file + L".nimbrel-tmp", "half of an earlier ru");
        ::SetFileAttributesW((file + L".nimbrel-tmp").c_str(), leftover);
        EXPECT_EQ(ErrorNumber([&] { ReplaceWith(file, "replaced"); }), 0);
        EXPECT_EQ(testbed::ReadBytes(file), "replaced");
        EXPECT_EQ(::GetFileAttributesW(file.c_str()) & kHiddenSystem, kHiddenSystem);
        EXPECT_THAT(FilesIn(folder), ::testing::ElementsAre(L"loginusers.vdf"));
    }
}

TEST(ReadFileBytes, ReadsEveryByteAndRaisesForMissingFiles) {
    const std::wstring folder = testbed::ScratchFolder(L"read");
    const std::string bytes("a\0b\r\nc\xe4", 7);
    testbed::WriteBytes(folder + L"\\f.vdf", bytes);
    EXPECT_EQ(Runtime().ReadFileBytes(folder + L"\\f.vdf"), bytes);
    EXPECT_EQ(ErrorNumber([&] { Runtime().ReadFileBytes(folder + L"\\none.vdf"); }), 53);
    EXPECT_EQ(ErrorNumber([&] { Runtime().ReadFileBytes(folder); }), 75);
}

TEST(Dir, FindsOrdinaryFilesOnlyAndResolvesRelativeNamesInTheWorkingDirectory) {
    const std::wstring folder = testbed::ScratchFolder(L"dir");
    for (const wchar_t* name : {L"steam.exe", L"hidden.vdf", L"readonly.vdf"})
        testbed::WriteBytes(folder + L"\\" + name, "x");
    ::SetFileAttributesW((folder + L"\\hidden.vdf").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesW((folder + L"\\readonly.vdf").c_str(), FILE_ATTRIBUTE_READONLY);
    ::CreateDirectoryW((folder + L"\\config").c_str(), nullptr);
    {
        const testbed::ScopedWorkingDirectory here(folder);
        EXPECT_EQ(Runtime().Dir(L"steam.exe"), L"steam.exe");
    }
    {
        const testbed::ScopedWorkingDirectory below(folder + L"\\config");
        EXPECT_EQ(Runtime().Dir(L"steam.exe"), L"");
    }
    EXPECT_EQ(Runtime().Dir(folder + L"\\STEAM.EXE"), L"steam.exe");
    EXPECT_EQ(Runtime().Dir(folder + L"\\hidden.vdf"), L"");
    EXPECT_EQ(Runtime().Dir(folder + L"\\readonly.vdf"), L"readonly.vdf");
    EXPECT_EQ(Runtime().Dir(folder + L"\\config"), L"");
    EXPECT_EQ(Runtime().Dir(folder + L"\\none"), L"");
}
