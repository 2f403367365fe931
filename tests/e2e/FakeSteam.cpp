// Stands in for Steam.exe in tests and the demo: logs how it was started to steam-log.txt in
// its own folder (one UTF-8 line: process id, tab, command line, tab, working directory), then
// stays running for a while, as the real client would, unless told how long in
// steam-lifetime.txt (milliseconds) beside it.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size,
                          nullptr, nullptr);
    return out;
}

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH * 4];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    std::wstring folder(path, length);
    return folder.substr(0, folder.rfind(L'\\'));
}

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

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const std::wstring folder = OwnFolder();
    wchar_t cwd[MAX_PATH * 4];
    const DWORD cwdLength = ::GetCurrentDirectoryW(MAX_PATH * 4, cwd);
    const std::string line = std::to_string(::GetCurrentProcessId()) + "\t" +
                             Utf8(::GetCommandLineW()) + "\t" + Utf8(std::wstring(cwd, cwdLength)) +
                             "\n";
    HANDLE log =
        ::CreateFileW((folder + L"\\steam-log.txt").c_str(), FILE_APPEND_DATA,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(log);
    ::Sleep(Lifetime(folder));
    return 0;
}
