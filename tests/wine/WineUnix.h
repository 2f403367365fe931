#pragma once

// What the Windows tests reach of the Linux side under Wine: a file's Linux path, and Linux
// programs (Wine starts them natively), for what Wine does not do as Windows does: open files
// through a letter of DefineDosDeviceW's, hold a folder to its access list, mount a small
// volume. TestBed.h alone reaches for them. And the one bounded wait the suites share.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace wine {

// Checks condition every 10 ms until it holds, for up to timeoutMs; false when it never did.
// A wait that runs out fails the test, naming what it waited for; a bound of 0 only looks.
inline bool WaitUntil(const std::string& what, DWORD timeoutMs,
                      const std::function<bool()>& condition) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (::GetTickCount64() >= deadline) {
            if (timeoutMs > 0) ADD_FAILURE() << "waited " << timeoutMs << " ms for " << what;
            return false;
        }
        ::Sleep(10);
    }
    return true;
}

// The Linux path of a Windows path; "" when not under Wine.
inline std::string UnixPathOf(const std::wstring& path) {
    using UnixNameFn = char*(CDECL*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixNameFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName ? unixName(path.c_str()) : nullptr;
    if (!name) return {};
    std::string result = name;
    ::HeapFree(::GetProcessHeap(), 0, name);
    return result;
}

// Starts a Linux program, e.g. "Z:\\bin\\ln -s A B"; true when it started. Wine runs it outside
// any Windows process: CreateProcessW succeeds without handles for it, leaving values in them
// that may name this program's own handles (closing them once closed its standard output). So
// nothing is closed, and callers wait for the program's effect.
inline bool StartUnixProgram(const std::string& commandLine) {
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, commandLine.c_str(),
                                           static_cast<int>(commandLine.size()), nullptr, 0);
    std::wstring line(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, commandLine.c_str(), static_cast<int>(commandLine.size()),
                          line.data(), size);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    return ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &started) != FALSE;
}

// Runs a shell command line on the Linux side and waits (up to 5 s) until it has ended; true
// when it succeeded. A command that fails fails the test, naming it, unless mayFail (for what
// this run may lack, such as root): then the result says so. It leaves a mark beside folder.
inline bool RunUnixShell(const std::wstring& folder, const std::string& command,
                         bool mayFail = false) {
    const std::wstring done = folder + L".done", failed = folder + L".failed";
    const auto exists = [](const std::wstring& path) {
        return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    };
    ::DeleteFileW(done.c_str());
    ::DeleteFileW(failed.c_str());
    const std::string mark = UnixPathOf(folder);
    const std::string script =
        "if " + command + "; then touch " + mark + ".done; else touch " + mark + ".failed; fi";
    const bool ended = StartUnixProgram("Z:\\bin\\sh -c \"" + script + "\"") &&
                       WaitUntil("the Linux command " + command + " to end", 5000,
                                 [&] { return exists(done) || exists(failed); });
    const bool succeeded = exists(done);
    if (ended && !succeeded && !mayFail) ADD_FAILURE() << "the Linux command failed: " << command;
    ::DeleteFileW(done.c_str());
    ::DeleteFileW(failed.c_str());
    return succeeded;
}

}  // namespace wine
