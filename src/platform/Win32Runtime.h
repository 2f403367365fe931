#pragma once

#include <windows.h>
// After windows.h: the shell's declarations, for the types of the start's call table only.
#include <shellapi.h>

#include <memory>
#include <string>

#include "platform/Runtime.h"
#include "platform/UniqueHandle.h"

namespace platform {

class Win32Window;

// The runtime services on Win32: wide APIs throughout, decisions left to the callers. One
// file for each thing served: Win32Runtime.cpp (this application: its facts, window, boxes and
// messages), Win32Files.cpp, Win32Processes.cpp, Win32OtherWindows.cpp (other programs' windows
// and key sending).
class Win32Runtime : public Runtime {
public:
    explicit Win32Runtime(HINSTANCE instance);
    ~Win32Runtime() override;

    // Builds the (still hidden) window and binds its handlers.
    void LoadForm(const FormDesign& design);
    // Runs until the window is closed; never returns.
    [[noreturn]] void RunMessageLoop();

    std::wstring AppPath() override;
    std::wstring AppExeName() override;
    std::wstring AppTitle() override;
    void SetAppTitle(const std::wstring& title) override;
    bool AppPrevInstance() override;
    std::wstring CommandText() override;
    std::wstring WindowsFolder() override;
    std::wstring LCase(const std::wstring& text) override;
    std::wstring UCase(const std::wstring& text) override;
    std::wstring Dir(const std::wstring& path) override;
    std::string ReadFileBytes(const std::wstring& path) override;
    void RewriteFile(const std::wstring& path, std::string text, const Rewrite& rewrite) override;
    void ShowForm() override;
    void SetCaption(const std::wstring& caption) override;
    void SetTimerEnabled(FormTimer timer, bool enabled) override;
    void MsgBox(const std::wstring& prompt, int style, const std::wstring& title) override;
    void DoEvents() override;
    void Shell(const std::wstring& program, const std::wstring& arguments,
               int windowStyle) override;
    [[noreturn]] void End() override;
    void ShowErrorBox(const RuntimeError& error) override;
    [[noreturn]] void Quit(int exitCode) override;
    void AppActivate(const std::wstring& title) override;
    void SendKeys(const std::wstring& keys) override;
    std::int32_t FindWindowA(const std::string& className, const std::string& title) override;
    void ShowWindowAsync(std::int32_t window, int command) override;
    void SetWindowPos(std::int32_t window, std::int32_t insertAfter, int x, int y, int cx, int cy,
                      unsigned flags) override;
    Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) override;
    bool ProcessFirst(Handle snapshot, ProcessEntry& entry) override;
    bool ProcessNext(Handle snapshot, ProcessEntry& entry) override;
    Handle OpenProcess(std::uint32_t access, bool inheritHandle, std::uint32_t processId) override;
    bool TerminateProcess(Handle process, std::uint32_t exitCode) override;
    bool CloseHandle(Handle handle) override;
    std::vector<ProcessSession> ProcessSessions() override;
    bool ProcessIdToSessionId(std::uint32_t processId, std::uint32_t& sessionId) override;
    std::uint32_t GetCurrentProcessId() override;
    std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) override;

private:
    std::wstring modulePath_;
    std::wstring title_ = L"Nimbrel";
    UniqueProcess instanceMutex_;
    bool prevInstance_ = false;
    std::unique_ptr<Win32Window> window_;
};

// The system calls of the read and the write-back, in one table: a test replaces entries to
// make any of them fail the way a full drive, a scanner or a failing disk does, and to let the
// waits run on a clock of its own.
struct FileCalls {
    decltype(&::CreateFileW) CreateFileW;
    decltype(&::GetFileSizeEx) GetFileSizeEx;
    decltype(&::ReadFile) ReadFile;
    decltype(&::WriteFile) WriteFile;
    decltype(&::FlushFileBuffers) FlushFileBuffers;
    decltype(&::GetFileAttributesW) GetFileAttributesW;
    decltype(&::SetFileAttributesW) SetFileAttributesW;
    decltype(&::MoveFileExW) MoveFileExW;
    decltype(&::DeleteFileW) DeleteFileW;
    decltype(&::Sleep) Sleep;
    decltype(&::GetTickCount64) GetTickCount64;
};
// The table the file step calls through; the system's own functions unless a test swapped some.
FileCalls& FileStepCalls();

// The system calls of a program start, in one table: a test replaces them to see what a start
// that Windows refuses without elevation does, with no real prompt.
struct StartCalls {
    decltype(&::CreateProcessW) CreateProcessW;
    // The shell's start, loaded on first need from the system folder; null when it cannot be.
    decltype (&::ShellExecuteExW) (*LoadShellExecuteExW)();
};
// The table Shell calls through; the system's own functions unless a test swapped some.
StartCalls& ProgramStartCalls();

// The full path of the running program file.
std::wstring ModulePath();
// The argument text of a command line: what follows the program path and its separating blank.
std::wstring ArgumentsOf(const std::wstring& commandLine);
// Windows error codes that MinGW's headers do not name: a program that must be started
// elevated ("Run this program as an administrator"), and a user's disk quota used up.
inline constexpr DWORD kErrorElevationRequired = 740;
inline constexpr DWORD kErrorDiskQuotaExceeded = 1295;
// Our error for a failed system call, by its Windows error code.
RuntimeError ErrorFromWin32(DWORD code, const std::wstring& detail);
// Raises the error of the last failed system call, naming detail.
[[noreturn]] void ThrowLastError(const std::wstring& detail);
// What tells one file from every other, whatever path reaches it: its file index and creation
// time, in hex; a hash of the path when the file cannot be opened.
std::wstring ProgramFileIdentity(const std::wstring& path);
// The name of the kernel object that marks a running copy of the program file at modulePath.
std::wstring InstanceMutexName(const std::wstring& modulePath);
// Creates (or opens) the mark named mutexName into mark; true when another copy made it first.
bool ClaimInstance(const std::wstring& mutexName, UniqueProcess& mark);

}  // namespace platform
