// Stands in for Steam.exe in tests and the demo: logs how it was started, then stays running for
// a while, as the real client would, unless told how long in steam-lifetime.txt (milliseconds)
// beside it. Each start gets a file of its own in the steam-starts folder beside it, named after
// the performance counter and the process id, so that names sort in the order of the starts:
// one UTF-8 line of process id, tab, command line, tab, working directory. Two stand-ins started
// together never write into one file (under Wine an append is a size query and a write, not one
// step). A start that cannot be logged says so in a box and ends with 1: a lost start would
// otherwise read as one that never happened.
#include <windows.h>

#include <cstdio>
#include <string>

#include "Common.h"

namespace {

// Read through the system, not a C++ stream: the stream library would make the stand-in three
// times the size and a few milliseconds slower to start, and the start-up benchmark's times
// end with its start.
DWORD Lifetime(const std::wstring& folder) {
    HANDLE file = ::CreateFileW((folder + L"\\steam-lifetime.txt").c_str(), GENERIC_READ,
                                FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 60000;
    char text[32] = {};
    DWORD read = 0;
    ::ReadFile(file, text, sizeof text - 1, &read, nullptr);
    ::CloseHandle(file);
    return static_cast<DWORD>(std::strtoul(text, nullptr, 10));
}

// Writes the start's line into a new file; the last error when it could not, else 0. A scanner
// or the harness reading the folder may hold it for a moment: tried for about two seconds.
DWORD LogStart(const std::wstring& folder, const std::string& line) {
    const std::wstring starts = folder + L"\\steam-starts";
    DWORD error = 0;
    for (int attempt = 0; attempt < 40; ++attempt) {
        if (attempt > 0) ::Sleep(50);
        // A name of its own each time: a failed try's file may not have gone yet.
        LARGE_INTEGER now{};
        ::QueryPerformanceCounter(&now);
        wchar_t name[64];
        std::swprintf(name, 64, L"\\%020lld-%lu.txt", static_cast<long long>(now.QuadPart),
                      static_cast<unsigned long>(::GetCurrentProcessId()));
        // There already, or else made here; where it cannot be, the file's error says why.
        ::CreateDirectoryW(starts.c_str(), nullptr);
        HANDLE log = ::CreateFileW((starts + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   CREATE_NEW, 0, nullptr);
        if (log == INVALID_HANDLE_VALUE) {
            error = ::GetLastError();
            continue;
        }
        DWORD written = 0;
        if (!::WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
            error = ::GetLastError();
        else
            error = written == line.size() ? 0 : ERROR_WRITE_FAULT;
        ::CloseHandle(log);
        if (error == 0) return 0;
        ::DeleteFileW((starts + name).c_str());
    }
    return error ? error : ERROR_WRITE_FAULT;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    wchar_t path[MAX_PATH * 4];
    const std::wstring exe(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4));
    const std::wstring folder = exe.substr(0, exe.rfind(L'\\'));
    const std::wstring cwd(path, ::GetCurrentDirectoryW(MAX_PATH * 4, path));
    const std::string line = std::to_string(::GetCurrentProcessId()) + "\t" +
                             testbed::Narrow(::GetCommandLineW()) + "\t" + testbed::Narrow(cwd) +
                             "\n";
    if (const DWORD error = LogStart(folder, line)) {
        const std::wstring text = L"The stand-in Steam.exe could not log its start in " + folder +
                                  L"\\steam-starts: error " + std::to_wstring(error);
        ::MessageBoxW(nullptr, text.c_str(), L"Stand-in Steam.exe", MB_OK | MB_ICONERROR);
        return 1;
    }
    ::Sleep(Lifetime(folder));
    return 0;
}
