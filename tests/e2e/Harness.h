#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Desktop.h"
#include "DriveLetter.h"
#include "Win32Common.h"

// What the end-to-end tests use to drive the real Nimbrel.exe under Wine: scratch Steam
// folders with a stand-in Steam.exe, the program's windows and boxes, and its processes.
namespace e2e {

using testbed::Box, testbed::BoxesOf, testbed::ImagePathOf, testbed::Narrow, testbed::PressOk,
    testbed::ProcessesNamed, testbed::ReadBytes, testbed::TextOf, testbed::Widen,
    testbed::WriteBytes;
using testbed::WaitUntil;  // every wait of the suite: bounded, and named when it runs out

// The Nimbrel.exe under test: the tree's own, or the one the NIMBREL_EXE variable names.
std::wstring NimbrelExe();
// The stand-in Steam.exe: the tree's own, or the one the NIMBREL_FAKE_STEAM variable names.
std::wstring FakeSteamExe();
std::string Fixture(const char* name);  // a loginusers.vdf sample's bytes
// The text with both offline flags, as Steam writes them, set to value ('1' offline, '0'
// online): the tests' own rewrite, independent of the product's.
std::string Flagged(std::string text, char value = '1');
std::string CrLf(const std::string& lf);  // LF line ends turned to CR LF
// The one-account sample with count accounts in all, each under an id of its own.
std::string WithAccounts(int count);
FILETIME LastWriteTime(const std::wstring& path);
inline bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// A start the stand-in Steam.exe logged in its folder's steam-starts folder, in their order.
struct SteamStart {
    DWORD processId;
    std::string commandLine;
    std::string workingDir;
};
std::vector<SteamStart> SteamStartsIn(const std::wstring& folder);

// A fresh Steam folder in the program's scratch folder, with Nimbrel.exe and, unless told
// otherwise, the stand-in as Steam.exe.
class SteamFolder {
public:
    explicit SteamFolder(const std::wstring& name, bool withSteam = true);
    const std::wstring& Path() const { return path_; }
    std::wstring Nimbrel() const { return path_ + L"\\Nimbrel.exe"; }
    std::wstring LoginUsers() const { return path_ + L"\\config\\loginusers.vdf"; }
    void WriteLoginUsers(const std::string& bytes) const { WriteBytes(LoginUsers(), bytes); }
    std::string ReadLoginUsers() const { return ReadBytes(LoginUsers()); }
    std::vector<SteamStart> SteamStarts() const { return SteamStartsIn(path_); }
    // Waits until the stand-in has logged at least count starts: while a Nimbrel.exe of the
    // case runs, up to runningMs; once none runs, up to 5 s more for a start still on its way.
    // A stand-in that says it could not log fails the case at once, with its message.
    std::vector<SteamStart> WaitForSteamStarts(std::size_t count, DWORD runningMs = 10000) const;
    std::vector<std::wstring> Files(const std::wstring& subfolder) const;

private:
    std::wstring path_;
};

// One started Nimbrel.exe. It is ended with the case, after a failed case's report: the
// destructor leaves it running, for the report to see how it stood.
class Launcher {
public:
    // showCommand: how a shortcut asks the program to show (STARTF_USESHOWWINDOW); -1 for none.
    Launcher(const std::wstring& exe, const std::wstring& arguments, const std::wstring& workingDir,
             int showCommand = -1);
    ~Launcher();
    Launcher(const Launcher&) = delete;
    Launcher& operator=(const Launcher&) = delete;

    DWORD ProcessId() const { return process_.Id(); }
    // The exit code once the program has ended within timeoutMs, else nothing. The waits fail
    // the test when they run out, naming what they waited for; a bound of 0 only looks.
    std::optional<DWORD> WaitForExit(DWORD timeoutMs) const;
    bool Running() const { return process_.Running(); }
    // Ends the program through its Quit button, as a user would, once what the case checks is
    // in (the file, Steam's start): its exit code, or nothing when it did not end. A box open at
    // that moment fails the case: something happened that the case did not expect.
    std::optional<DWORD> Quit() const;
    // The program's visible message box, once one shows within timeoutMs.
    std::optional<Box> WaitForBox(DWORD timeoutMs = 5000) const;
    // The same, for a box with this title (the one before it may still be closing).
    std::optional<Box> WaitForBoxTitled(const std::wstring& title, DWORD timeoutMs = 5000) const;
    HWND WaitForForm(DWORD timeoutMs = 5000) const;
    std::wstring Caption() const;
    bool WaitForCaption(const std::wstring& caption, DWORD timeoutMs = 5000) const;

private:
    const testbed::Process& process_;  // owned by the case's list of started programs
};

// Base of every end-to-end test: afterwards, no stray box is left hanging (one is pressed
// and reported) and no program the test started keeps running. A failed case first reports,
// before anything is ended, the visible windows of Nimbrel.exe and Steam.exe (a box with its
// text), each Nimbrel.exe it started with its exit code and when it ended, and each Steam.exe
// that runs, with its path.
// Every case drives the program's windows: none runs where they would show to nobody.
class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override { NIMBREL_STAGE(desktop, testbed::Desktop()); }
    void TearDown() override;
};

}  // namespace e2e
