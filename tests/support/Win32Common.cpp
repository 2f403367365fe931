#include "Win32Common.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <utility>

namespace fs = std::filesystem;

namespace testbed {

bool WaitUntil(const std::string& what, DWORD timeoutMs, const std::function<bool()>& condition) {
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

bool UnderWine() {
    return ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name") !=
           nullptr;
}

std::wstring TreeFile(const wchar_t* variable, const char* compiledIn) {
    const wchar_t* chosen = ::_wgetenv(variable);
    std::wstring path = chosen && *chosen ? std::wstring(chosen) : Widen(compiledIn);
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::wstring ScratchFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH], self[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    const fs::path folder = fs::path(temp) / fs::path(self).stem() / name;
    std::error_code ignored;
    if (fs::exists(folder, ignored)) {
        ::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
        for (const auto& entry : fs::recursive_directory_iterator(folder, ignored))
            ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    return folder.wstring();
}

Process::Process(const std::wstring& program, std::wstring commandLine, const Options& options) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (options.showCommand >= 0) {
        startup.dwFlags |= STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(options.showCommand);
    }
    if (options.output) {
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = options.output;
    }
    PROCESS_INFORMATION started{};
    started_ = ::CreateProcessW(program.empty() ? nullptr : program.c_str(), commandLine.data(),
                                nullptr, nullptr, options.output != nullptr, options.flags, nullptr,
                                options.workingDir.empty() ? nullptr : options.workingDir.c_str(),
                                &startup, &started) != FALSE;
    if (!started_) {
        ADD_FAILURE() << "cannot start " << Narrow(commandLine) << ": error " << ::GetLastError();
        return;
    }
    if (options.linux) return;
    ::CloseHandle(started.hThread);
    process_.reset(started.hProcess);
    id_ = started.dwProcessId;
}

bool Process::Running() const {
    return process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> Process::WaitForExit(const std::string& what, DWORD timeoutMs) const {
    if (!process_ || !WaitUntil(what, timeoutMs, [&] { return !Running(); })) return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process_.get(), &code);
    return code;
}

void Process::Terminate(UINT code) const {
    if (!Running()) return;
    ::TerminateProcess(process_.get(), code);
    WaitUntil("process " + std::to_string(id_) + " to end once terminated", 2000,
              [&] { return !Running(); });
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().wstring());
    // A case that looks into a folder expects it to be there: gone, it holds nothing either.
    if (error) ADD_FAILURE() << "cannot list " << Narrow(folder) << ": " << error.message();
    std::sort(names.begin(), names.end());
    return names;
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const std::wstring& folder) {
    wchar_t previous[MAX_PATH * 2];
    previous_.assign(previous, ::GetCurrentDirectoryW(MAX_PATH * 2, previous));
    EXPECT_TRUE(::SetCurrentDirectoryW(folder.c_str()))
        << "cannot make " << Narrow(folder) << " the working directory";
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() { ::SetCurrentDirectoryW(previous_.c_str()); }

ScopedVariable::ScopedVariable(const std::wstring& name, const std::wstring& value) : name_(name) {
    if (const wchar_t* now = ::_wgetenv(name.c_str())) previous_ = now;
    // _wputenv keeps the C runtime's copy, which _wgetenv reads, and the process's block, which
    // programs started afterwards inherit, in step.
    ::_wputenv((name_ + L"=" + value).c_str());
}

ScopedVariable::~ScopedVariable() { ::_wputenv((name_ + L"=" + previous_.value_or(L"")).c_str()); }

namespace {

constexpr wchar_t kBoxClass[] = L"#32770";
constexpr int kBoxTextId = 0xFFFF;

BOOL CALLBACK Collect(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256];
    const int length = ::GetClassNameW(window, name, 256);
    return std::wstring(name, length > 0 ? length : 0);
}

}  // namespace

std::wstring TextOf(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

std::vector<WindowInfo> TopLevelWindows(DWORD processId) {
    std::vector<HWND> windows;
    ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
    std::vector<WindowInfo> found;
    for (HWND window : windows) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (processId != 0 && owner != processId) continue;
        found.push_back(
            {window, ClassOf(window), TextOf(window), owner, ::IsWindowVisible(window) != FALSE});
    }
    return found;
}

std::vector<Box> BoxesOf(DWORD processId) {
    std::vector<Box> boxes;
    for (const WindowInfo& window : TopLevelWindows(processId))
        if (window.visible && window.className == kBoxClass)
            boxes.push_back(
                {window.window, window.title, TextOf(::GetDlgItem(window.window, kBoxTextId))});
    return boxes;
}

std::vector<Box> BoxesOf(const std::wstring& imageName) {
    std::vector<Box> boxes;
    for (DWORD id : ProcessesNamed(imageName))
        for (Box& box : BoxesOf(id)) boxes.push_back(std::move(box));
    return boxes;
}

void PressOk(HWND box) {
    // Posted, not sent: a sent click only returns once Wine has finished hiding the box.
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

bool ClickButton(HWND window, const std::wstring& caption) {
    const HWND button = ::FindWindowExW(window, nullptr, L"Button", caption.c_str());
    if (!button) return false;
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
    return true;
}

std::vector<DWORD> ProcessesNamed(const std::wstring& imageName) {
    std::vector<DWORD> ids;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
         more = ::Process32NextW(snapshot, &entry))
        if (::lstrcmpiW(entry.szExeFile, imageName.c_str()) == 0)
            ids.push_back(entry.th32ProcessID);
    ::CloseHandle(snapshot);
    return ids;
}

std::wstring ImagePathOf(DWORD processId) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) return {};
    wchar_t path[MAX_PATH * 4];
    DWORD size = MAX_PATH * 4;
    const BOOL ok = ::QueryFullProcessImageNameW(process, 0, path, &size);
    ::CloseHandle(process);
    return ok ? std::wstring(path, size) : std::wstring();
}

void KillProcessesNamed(const std::wstring& imageName) {
    for (DWORD id : ProcessesNamed(imageName)) {
        HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (!process) continue;
        ::TerminateProcess(process, 99);
        WaitUntil(Narrow(imageName) + " " + std::to_string(id) + " to end once terminated", 2000,
                  [&] { return ::WaitForSingleObject(process, 0) != WAIT_TIMEOUT; });
        ::CloseHandle(process);
    }
}

}  // namespace testbed
