#pragma once

// What the stagers reach of the Linux side under Wine, where Wine does not do as Windows does:
// a file's Linux path, and Linux programs (Wine starts them natively).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "Win32Common.h"

namespace wine {

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

// Starts a Linux program, e.g. "Z:\\bin\\ln -s A B"; true when it started. Callers wait for its
// effect: Wine gives no handle to wait on.
inline bool StartUnixProgram(const std::string& commandLine) {
    testbed::Process::Options options;
    options.linux = true;
    return testbed::Process(L"", testbed::Widen(commandLine), options).Started();
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
                       testbed::WaitUntil("the Linux command " + command + " to end", 5000,
                                          [&] { return exists(done) || exists(failed); });
    const bool succeeded = exists(done);
    if (ended && !succeeded && !mayFail) ADD_FAILURE() << "the Linux command failed: " << command;
    ::DeleteFileW(done.c_str());
    ::DeleteFileW(failed.c_str());
    return succeeded;
}

}  // namespace wine
