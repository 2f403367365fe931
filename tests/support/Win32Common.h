#pragma once

// What the Windows test programs share: the one bounded wait, the build's files, scratch
// folders, started processes, things a case changes and puts back, and the windows and boxes of
// running programs.
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Common.h"
#include "platform/UniqueHandle.h"

namespace testbed {

inline std::wstring Widen(const std::string& utf8) {
    std::wstring out(utf8.size(), L'\0');
    out.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(),
                              static_cast<int>(out.size()))));
    return out;
}

// Checks condition every 10 ms until it holds, for up to timeoutMs; false when it never did.
// A wait that runs out fails the test, naming what it waited for; a bound of 0 only looks.
bool WaitUntil(const std::string& what, DWORD timeoutMs, const std::function<bool()>& condition);

// True under Wine, which alone can name the Linux path of a Windows one.
bool UnderWine();

// A file of the build under test: the path the environment variable names, if set, else the
// one compiled in. The compiled-in paths are the build machine's Linux paths, reached under
// Wine through drive Z:; on Windows the test script sets the variables to the files there.
std::wstring TreeFile(const wchar_t* variable, const char* compiledIn);

// An empty folder %TEMP%\<this program's name>\name, whatever an earlier run left there
// (read-only files too).
std::wstring ScratchFolder(const std::wstring& name);

// One started program. Its handles close with the object; a program still running then is
// left running (a case ends it by name, after its failure report).
class Process {
public:
    struct Options {
        std::wstring workingDir;  // "" for this program's
        int showCommand = -1;     // how a shortcut asks it to show (STARTF_USESHOWWINDOW)
        HANDLE output = nullptr;  // inheritable: its standard output and error
        DWORD flags = 0;          // CreateProcessW's creation flags
        // A Linux program under Wine: Wine starts it outside any Windows process and returns no
        // handles, yet leaves values that may name this program's own (closing them once
        // closed its standard output). Nothing is kept, and callers wait for its effect.
        bool linux = false;
    };
    // Starts the program, "" to take it from the command line; a failure fails the test.
    Process(const std::wstring& program, std::wstring commandLine, const Options& options);
    Process(Process&&) = default;

    bool Started() const { return started_; }
    HANDLE Handle() const { return process_.get(); }
    DWORD Id() const { return id_; }
    bool Running() const;
    // The exit code once the program ends within timeoutMs, else nothing: WaitUntil's rules.
    std::optional<DWORD> WaitForExit(const std::string& what, DWORD timeoutMs) const;
    // Ends it with code and waits (2 s) until it has.
    void Terminate(UINT code) const;

private:
    platform::UniqueProcess process_;
    DWORD id_ = 0;
    bool started_ = false;
};

// The names of the entries in folder, sorted. A folder that cannot be listed fails the test.
std::vector<std::wstring> FilesIn(const std::wstring& folder);

// The working directory, changed while the object lives: put back however the case ends.
class ScopedWorkingDirectory {
public:
    explicit ScopedWorkingDirectory(const std::wstring& folder);
    ~ScopedWorkingDirectory();
    ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
    ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

private:
    std::wstring previous_;
};

// An environment variable of this program and those it starts, set while the object lives.
class ScopedVariable {
public:
    ScopedVariable(const std::wstring& name, const std::wstring& value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::wstring name_;
    std::optional<std::wstring> previous_;
};

struct WindowInfo {
    HWND window;
    std::wstring className;
    std::wstring title;
    DWORD processId;
    bool visible;
};
std::vector<WindowInfo> TopLevelWindows(DWORD processId);  // 0: every program's
std::wstring TextOf(HWND window);

// A message box: a top-level window of the dialog class, its text in the static of id 0xFFFF.
struct Box {
    HWND window = nullptr;
    std::wstring title;
    std::wstring text;
};
std::vector<Box> BoxesOf(DWORD processId);
std::vector<Box> BoxesOf(const std::wstring& imageName);  // every running program of that name
void PressOk(HWND box);

// A button's click as the button reports it to its window, posted: a posted BM_CLICK needs the
// window active. False when the window has no button with that caption.
bool ClickButton(HWND window, const std::wstring& caption);

// Ids of running processes with this image name (any case).
std::vector<DWORD> ProcessesNamed(const std::wstring& imageName);
std::wstring ImagePathOf(DWORD processId);
void KillProcessesNamed(const std::wstring& imageName);

}  // namespace testbed
