#pragma once

#include <windows.h>

#include <gmock/gmock.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Desktop.h"
#include "DriveLetter.h"
#include "Win32Common.h"

// What the end-to-end tests use to drive the real Nimbrel.exe under Wine: scratch Steam
// folders with a stand-in Steam.exe, the program's windows and boxes, and its processes.
namespace e2e {

using testbed::Box, testbed::BoxesOf, testbed::FilesIn, testbed::ImagePathOf, testbed::Narrow,
    testbed::PressOk, testbed::ProcessesNamed, testbed::ReadBytes, testbed::TextOf,
    testbed::WaitUntil, testbed::Widen, testbed::WriteBytes;
using ::testing::ElementsAre, ::testing::IsEmpty, ::testing::SizeIs;

// The files under test: the tree's own, or those the NIMBREL_EXE and NIMBREL_FAKE_STEAM
// variables name.
inline std::wstring NimbrelExe() { return testbed::TreeFile(L"NIMBREL_EXE", NIMBREL_EXE); }
inline std::wstring FakeSteamExe() {
    return testbed::TreeFile(L"NIMBREL_FAKE_STEAM", NIMBREL_FAKE_STEAM);
}
std::string Fixture(const char* name);  // a loginusers.vdf sample's bytes
// The text with both offline flags, as Steam writes them, set to value ('1' offline, '0'
// online): the tests' own rewrite, independent of the product's.
std::string Flagged(std::string text, char value = '1');
// The smallest file with an offline flag to set: Flagged(kOnline) is how Nimbrel leaves it.
inline const std::string kOnline = "\"WantsOfflineMode\"\t\t\"0\"\n";
std::string CrLf(const std::string& lf);  // LF line ends turned to CR LF
// The one-account sample with count accounts in all, each under an id of its own.
std::string WithAccounts(int count);
ULONGLONG LastWriteTime(const std::wstring& path);
// Steam.exe's command line as Nimbrel.exe starts it in folder: its quoted path, then passed.
inline std::string SteamCommandLine(const std::wstring& folder, const std::string& passed) {
    return "\"" + Narrow(folder) + "\\Steam.exe\"" + passed;
}

// A start the stand-in Steam.exe logged in its folder's steam-starts folder, in their order.
struct SteamStart {
    DWORD processId;
    std::string commandLine, workingDir;
};
std::vector<SteamStart> SteamStartsIn(const std::wstring& folder);

// A fresh Steam folder in the program's scratch folder, with Nimbrel.exe, loginUsers as its
// config\loginusers.vdf if given, and, unless told otherwise, the stand-in as Steam.exe.
class SteamFolder {
public:
    explicit SteamFolder(const std::wstring& name,
                         const std::optional<std::string>& loginUsers = std::nullopt,
                         bool withSteam = true);
    const std::wstring& Path() const { return path_; }
    std::wstring Nimbrel() const { return path_ + L"\\Nimbrel.exe"; }
    // A working directory without Steam.exe: a run started there stops at the Steam box first.
    std::wstring Elsewhere() const { return path_ + L"\\config"; }
    std::wstring LoginUsers() const { return path_ + L"\\config\\loginusers.vdf"; }
    void WriteLoginUsers(const std::string& bytes) const { WriteBytes(LoginUsers(), bytes); }
    std::string ReadLoginUsers() const { return ReadBytes(LoginUsers()); }
    std::vector<SteamStart> SteamStarts() const { return SteamStartsIn(path_); }
    // Waits until the stand-in has logged at least count starts: while a Nimbrel.exe of the
    // case runs, up to runningMs; once none runs, up to 5 s more for a start still on its way.
    // A stand-in that says it could not log fails the case at once, with its message.
    std::vector<SteamStart> WaitForSteamStarts(std::size_t count, DWORD runningMs = 10000) const;
    std::vector<std::wstring> Files(const std::wstring& subfolder) const {
        return FilesIn(path_ + L"\\" + subfolder);
    }

private:
    std::wstring path_;
};

// One started Nimbrel.exe. It is ended with the case, after a failed case's report: the
// destructor leaves it running, for the report to see how it stood.
class Launcher {
public:
    Launcher(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workingDir,
             int showCommand = -1);
    ~Launcher();
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    DWORD ProcessId() const { return process_.Id(); }
    // The exit code once the program has ended within timeoutMs, else nothing.
    std::optional<DWORD> WaitForExit(DWORD timeoutMs) const {
        return process_.WaitForExit("Nimbrel.exe to end", timeoutMs);
    }
    bool Running() const { return process_.Running(); }
    // Ends the program through its Quit button, as a user would, once what the case checks is
    // in (the file, Steam's start): its exit code, or nothing when it did not end. A box open at
    // that moment fails the case: something happened that the case did not expect.
    std::optional<DWORD> Quit() const;
    // The program's visible message box, once one shows within timeoutMs; with a title, once the
    // box that shows has that title (the one before it may still be closing).
    std::optional<Box> WaitForBox(DWORD timeoutMs = 5000, const std::wstring& title = L"") const;
    HWND WaitForForm(DWORD timeoutMs = 5000) const;
    std::wstring Caption() const;
    bool WaitForCaption(const std::wstring& caption, DWORD timeoutMs = 5000) const;

private:
    const testbed::Process& process_;  // owned by the case's list of started programs
};

// What a table row stages around its run: the stager calls run with the folder Nimbrel.exe is
// in, as the program sees it, while what it staged stands, and checks what it made afterwards.
using Run = std::function<void(const std::wstring& folder)>;
using Stage = void (*)(const SteamFolder& steam, const Run& run);
inline void ItsFolder(const SteamFolder& steam, const Run& run) { run(steam.Path()); }

// Base of every end-to-end test: afterwards, no stray box is left hanging (one is pressed
// and reported) and no program the test started keeps running. A failed case first reports,
// before anything is ended, what it left behind (see Harness.cpp).
// Every case drives the program's windows: none runs where they would show to nobody.
class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override { NIMBREL_STAGE(desktop, testbed::Desktop()); }
    void TearDown() override;
};

}  // namespace e2e
