#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/FormDesign.h"
#include "platform/RuntimeError.h"

namespace platform {

// A kernel handle as the program holds it; -1 is the toolhelp failure value, 0 "no handle".
using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

// One process as a toolhelp walk reports it. exeFile is the image name up to the first NUL
// (all 260 characters when there is none), converted from the ANSI code page.
struct ProcessEntry {
    std::uint32_t th32ProcessID = 0;
    std::wstring exeFile;
};

// One process of the system's process list, with the session it runs in.
struct ProcessSession {
    std::uint32_t processId = 0;
    std::uint32_t sessionId = 0;
};

// Changes a file's bytes in place; false when nothing needed changing.
using Rewrite = std::function<bool(std::string& bytes)>;

inline constexpr int kMsgBoxCritical = 16;
inline constexpr int kMsgBoxInformation = 64;
inline constexpr int kNormalFocus = 1;
inline constexpr int kMinimizedFocus = 2;

// Every service the program takes from the system, one function each, so that the start-up
// flow runs against a recording fake in unit tests and against Win32 in the product.
// Functions that "raise" throw RuntimeError; End() throws ProgramEnd.
class Runtime {
public:
    virtual ~Runtime() = default;

    // The folder of the running program: no trailing backslash, except at a drive root.
    virtual std::wstring AppPath() = 0;
    // The program file's name without its extension.
    virtual std::wstring AppExeName() = 0;
    virtual std::wstring AppTitle() = 0;
    // Renames the hidden application window too, so other copies find this one by its title.
    virtual void SetAppTitle(const std::wstring& title) = 0;
    // True when another copy of this program file was already running at start.
    virtual bool AppPrevInstance() = 0;
    // The argument text after the program path and its separating blank; "" when none.
    virtual std::wstring CommandText() = 0;
    // The Windows folder, e.g. C:\Windows.
    virtual std::wstring WindowsFolder() = 0;

    // Case mapping with the user locale's rules.
    virtual std::wstring LCase(const std::wstring& text) = 0;
    virtual std::wstring UCase(const std::wstring& text) = 0;

    // The file's name when an ordinary file (not hidden, system or a folder) exists at path,
    // else "". Relative paths resolve against the current directory.
    virtual std::wstring Dir(const std::wstring& path) = 0;
    // The whole file as bytes. Raises when it is missing or cannot be opened or read.
    virtual std::string ReadFileBytes(const std::wstring& path) = 0;
    // Passes text, the file's bytes as read, through rewrite and, when that changes them,
    // replaces the file with the result in one step; when it changes nothing, nothing is
    // written. If another program saved the file since text was read, its new text is passed
    // through rewrite instead. Raises with the file as it was (or as the other program left it).
    virtual void RewriteFile(const std::wstring& path, std::string text,
                             const Rewrite& rewrite) = 0;

    virtual void ShowForm() = 0;
    virtual void SetCaption(const std::wstring& caption) = 0;
    virtual void SetTimerEnabled(FormTimer timer, bool enabled) = 0;
    // A modal box with an OK button, owned by the form; returns when it is closed.
    virtual void MsgBox(const std::wstring& prompt, int style, const std::wstring& title) = 0;
    // Processes the window messages waiting now, then returns.
    virtual void DoEvents() = 0;
    // Starts program (a full path) with arguments, which begin with their separating blank;
    // the command line it receives is the quoted path followed by arguments. No waiting.
    // Raises when the program cannot be started.
    virtual void Shell(const std::wstring& program, const std::wstring& arguments,
                       int windowStyle) = 0;
    // Ends the program at once: throws ProgramEnd up to the event boundary.
    [[noreturn]] virtual void End() = 0;
    // The event boundary's last acts: the error box, and leaving the process (never returns).
    virtual void ShowErrorBox(const RuntimeError& error) = 0;
    [[noreturn]] virtual void Quit(int exitCode) = 0;
    // The end of a failure that nothing handled: its error box, then exit code 1. The program
    // ends even when the box cannot be shown (memory may be short).
    void Fail(const std::exception_ptr& failure) {
        try {
            ShowErrorBox(ErrorOf(failure));
        } catch (...) {}
        Quit(1);
    }

    // Activates the top-level window titled title (else one whose title begins with it);
    // raises when there is none.
    virtual void AppActivate(const std::wstring& title) = 0;
    // Types keys, in the classic key syntax, into the active window; raises on bad syntax.
    virtual void SendKeys(const std::wstring& keys) = 0;
    virtual std::int32_t FindWindowA(const std::string& className, const std::string& title) = 0;
    virtual void ShowWindowAsync(std::int32_t window, int command) = 0;
    virtual void SetWindowPos(std::int32_t window, std::int32_t insertAfter, int x, int y, int cx,
                              int cy, unsigned flags) = 0;

    virtual Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) = 0;
    virtual bool ProcessFirst(Handle snapshot, ProcessEntry& entry) = 0;
    virtual bool ProcessNext(Handle snapshot, ProcessEntry& entry) = 0;
    virtual Handle OpenProcess(std::uint32_t access, bool inheritHandle,
                               std::uint32_t processId) = 0;
    virtual bool TerminateProcess(Handle process, std::uint32_t exitCode) = 0;
    virtual bool CloseHandle(Handle handle) = 0;
    // The session of every running process, from the system's own list, which tells it without
    // opening the process; empty when that list cannot be had (the query fails, the list keeps
    // outgrowing the room made for it, or memory runs out). Never raises.
    virtual std::vector<ProcessSession> ProcessSessions() = 0;
    // The session processId runs in, asked of the process itself; false when it cannot be told
    // (no access to the process, or no such process).
    virtual bool ProcessIdToSessionId(std::uint32_t processId, std::uint32_t& sessionId) = 0;
    virtual std::uint32_t GetCurrentProcessId() = 0;
    // Waits until handle is signalled (a process has ended) or milliseconds have passed.
    virtual std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) = 0;
};

}  // namespace platform
