// Processes: starting a program, the toolhelp walk, sessions, ending a process and its wait.
#include "platform/Win32Runtime.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/Win32Window.h"

// The lookup reads process names in the ANSI code page on purpose; name the ANSI functions.
#undef Process32First
#undef Process32Next

namespace platform {
namespace {

std::wstring AnsiToWide(const char* text, int length) {
    if (length <= 0) return {};
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(), size);
    return wide;
}

ProcessEntry ToEntry(const tagPROCESSENTRY32& record) {
    ProcessEntry entry;
    entry.th32ProcessID = record.th32ProcessID;
    const void* nul = std::memchr(record.szExeFile, 0, sizeof record.szExeFile);
    const int length = nul ? static_cast<int>(static_cast<const char*>(nul) - record.szExeFile)
                           : static_cast<int>(sizeof record.szExeFile);
    entry.exeFile = AnsiToWide(record.szExeFile, length);
    return entry;
}

decltype(&::ShellExecuteExW) LoadShellExecuteExW() {
    // From the system folder: the start-up restricted the DLL search to it (and shell32 is a
    // known DLL, which Windows takes from there in any case).
    HMODULE shell32 = ::LoadLibraryW(L"shell32.dll");
    if (!shell32) return nullptr;
    return reinterpret_cast<decltype(&::ShellExecuteExW)>(
        reinterpret_cast<void*>(::GetProcAddress(shell32, "ShellExecuteExW")));
}

// A program marked "Run this program as an administrator" starts only through the shell, which
// asks the user for the rights; so it starts as Explorer would start it. Raises when it does
// not start, a declined prompt included.
void ShellStart(const std::wstring& program, const std::wstring& arguments, int show, HWND owner) {
    const auto shellExecuteEx = ProgramStartCalls().LoadShellExecuteExW();
    if (!shellExecuteEx) throw ErrorFromWin32(kErrorElevationRequired, program);
    const std::wstring parameters =
        !arguments.empty() && arguments[0] == L' ' ? arguments.substr(1) : arguments;
    // What CreateProcessW would have inherited, named: the shell may start elsewhere otherwise.
    wchar_t directory[MAX_PATH];
    const DWORD directoryLength = ::GetCurrentDirectoryW(MAX_PATH, directory);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;  // the failure is ours to report
    info.hwnd = owner;
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = directoryLength > 0 && directoryLength < MAX_PATH ? directory : nullptr;
    info.nShow = show;
    if (shellExecuteEx(&info)) return;
    // Here, and only here, a cancelled operation is the user saying no at the prompt; anywhere
    // else it is whatever was cancelled there, an unlisted code.
    if (::GetLastError() == ERROR_CANCELLED)
        throw errors::PermissionDenied(
            program + L" was not started: the request for administrator rights was declined.");
    ThrowLastError(program);
}

}  // namespace

StartCalls& ProgramStartCalls() {
    static StartCalls calls{::CreateProcessW, LoadShellExecuteExW};
    return calls;
}

void Win32Runtime::Shell(const std::wstring& program, const std::wstring& arguments,
                         int windowStyle) {
    std::wstring commandLine = L"\"" + program + L"\"" + arguments;
    const int show = windowStyle == kMinimizedFocus ? SW_SHOWMINIMIZED : SW_SHOWNORMAL;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(show);
    PROCESS_INFORMATION started{};
    if (ProgramStartCalls().CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                                           FALSE, 0, nullptr, nullptr, &startup, &started)) {
        UniqueProcess process(started.hProcess);
        UniqueProcess thread(started.hThread);
        return;
    }
    if (::GetLastError() != kErrorElevationRequired) ThrowLastError(program);
    ShellStart(program, arguments, show, window_->Form());
}

Handle Win32Runtime::CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) {
    return reinterpret_cast<Handle>(::CreateToolhelp32Snapshot(flags, processId));
}

bool Win32Runtime::ProcessFirst(Handle snapshot, ProcessEntry& entry) {
    tagPROCESSENTRY32 record{};
    record.dwSize = sizeof record;  // 296: the ANSI record
    if (!::Process32First(reinterpret_cast<HANDLE>(snapshot), &record)) return false;
    entry = ToEntry(record);
    return true;
}

bool Win32Runtime::ProcessNext(Handle snapshot, ProcessEntry& entry) {
    tagPROCESSENTRY32 record{};
    record.dwSize = sizeof record;
    if (!::Process32Next(reinterpret_cast<HANDLE>(snapshot), &record)) return false;
    entry = ToEntry(record);
    return true;
}

Handle Win32Runtime::OpenProcess(std::uint32_t access, bool inheritHandle,
                                 std::uint32_t processId) {
    return reinterpret_cast<Handle>(::OpenProcess(access, inheritHandle, processId));
}

bool Win32Runtime::TerminateProcess(Handle process, std::uint32_t exitCode) {
    return ::TerminateProcess(reinterpret_cast<HANDLE>(process), exitCode) != FALSE;
}

bool Win32Runtime::CloseHandle(Handle handle) {
    return ::CloseHandle(reinterpret_cast<HANDLE>(handle)) != FALSE;
}

std::vector<ProcessSession> Win32Runtime::ProcessSessions() try {
    // ProcessIdToSessionId opens the process, which a program run as another account (an
    // administrator's, through the prompt) refuses; the system's process list carries every
    // session. ntdll is in every process, so asking it adds nothing to the program's imports.
    const auto query =
        reinterpret_cast<decltype(&::NtQuerySystemInformation)>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return {};
    // Either answer means "more room": Windows gives the first for this class, but the second
    // is the one a buffer too small for the fixed part gets.
    constexpr NTSTATUS kLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
    constexpr NTSTATUS kBufferTooSmall = static_cast<NTSTATUS>(0xC0000023);
    std::vector<ULONGLONG> list;  // 8-byte aligned, as the records are
    ULONG size = 1u << 18;
    // Processes may start between the calls and outgrow the size just told: a few tries.
    for (int tries = 0; tries < 4; ++tries) {
        list.assign(size / sizeof(ULONGLONG), 0);
        ULONG needed = 0;
        const NTSTATUS status = query(SystemProcessInformation, list.data(),
                                      static_cast<ULONG>(list.size() * sizeof(ULONGLONG)), &needed);
        if (status >= 0) break;
        if ((status != kLengthMismatch && status != kBufferTooSmall) || tries == 3) return {};
        size = std::max(size, needed) + (1u << 16);
    }
    std::vector<ProcessSession> sessions;
    for (auto at = reinterpret_cast<const BYTE*>(list.data());;) {
        const auto& process = *reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(at);
        sessions.push_back(
            {static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(process.UniqueProcessId)),
             process.SessionId});
        if (process.NextEntryOffset == 0) return sessions;
        at += process.NextEntryOffset;
    }
} catch (const std::bad_alloc&) {
    return {};  // the lookup then asks each process it picks
}

bool Win32Runtime::ProcessIdToSessionId(std::uint32_t processId, std::uint32_t& sessionId) {
    DWORD session = 0;
    if (!::ProcessIdToSessionId(processId, &session)) return false;
    sessionId = session;
    return true;
}

std::uint32_t Win32Runtime::GetCurrentProcessId() { return ::GetCurrentProcessId(); }

std::uint32_t Win32Runtime::WaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(handle), milliseconds);
}

}  // namespace platform
