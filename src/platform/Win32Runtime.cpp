#include "platform/Win32Runtime.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/KeySyntax.h"
#include "platform/Win32Window.h"

// The lookup reads process names in the ANSI code page on purpose; name the ANSI functions.
#undef Process32First
#undef Process32Next

namespace platform {
namespace {

constexpr wchar_t kTempSuffix[] = L".nimbrel-tmp";

std::wstring FolderOf(const std::wstring& path) {
    const auto slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return path;
    std::wstring folder = path.substr(0, slash);
    // A drive root keeps its backslash: "C:\", never "C:".
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
    return folder;
}

std::wstring AnsiToWide(const char* text, int length) {
    if (length <= 0) return {};
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(), size);
    return wide;
}

std::wstring MapCase(const std::wstring& text, DWORD how) {
    if (text.empty()) return text;
    const int size = ::LCMapStringW(LOCALE_USER_DEFAULT, how, text.c_str(),
                                    static_cast<int>(text.size()), nullptr, 0);
    std::wstring mapped(static_cast<std::size_t>(size), L'\0');
    ::LCMapStringW(LOCALE_USER_DEFAULT, how, text.c_str(), static_cast<int>(text.size()),
                   mapped.data(), size);
    return mapped;
}

std::wstring Hex(std::uint64_t value, int digits) {
    std::wstring text(static_cast<std::size_t>(digits), L'0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4) text[i] = L"0123456789abcdef"[value & 0xF];
    return text;
}

HWND ToWindow(std::int32_t window) {
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(window));
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

[[noreturn]] void ThrowLastError(const std::wstring& detail) {
    throw ErrorFromWin32(::GetLastError(), detail);
}

// Virus scanners, indexers and backup tools open a file for a moment right after it changes.
// A step they refuse is tried again after short pauses, for about two seconds in all; what
// cannot pass by waiting (a missing file, a denied folder) is reported at once.
class HeldFileWait {
public:
    // True, after a pause, when the step that failed with error is to be tried again.
    // deniedToo: access denied counts as held too (the final rename, after the check passed).
    bool Again(DWORD error, bool deniedToo = false) {
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                          (deniedToo && error == ERROR_ACCESS_DENIED);
        const ULONGLONG now = ::GetTickCount64();
        if (!held || now >= deadline_) return false;
        ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(pause_, deadline_ - now)));
        pause_ = std::min<DWORD>(pause_ * 2, kLongestPauseMs);
        return true;
    }

private:
    static constexpr DWORD kWaitMs = 2000;
    static constexpr DWORD kLongestPauseMs = 200;
    ULONGLONG deadline_ = ::GetTickCount64() + kWaitMs;
    DWORD pause_ = 10;
};

// CreateFileW, tried again while another program holds the file.
HANDLE OpenFile(HeldFileWait& wait, const std::wstring& path, DWORD access, DWORD share,
                DWORD disposition, DWORD flags) {
    while (true) {
        HANDLE file = ::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD error = ::GetLastError();
        if (!wait.Again(error)) {
            ::SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
    }
}

// Writes content to a new file at path and flushes it to disk, or raises.
void WriteNewFile(HeldFileWait& wait, const std::wstring& path, const std::string& content) {
    // A leftover of an interrupted run may carry the original's hidden and system attributes,
    // or be read-only; either would make the create below fail with access denied, every time.
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    UniqueFile file(OpenFile(wait, path, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    if (!file) ThrowLastError(path);
    std::size_t written = 0;
    while (written < content.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size() - written, 1u << 24));
        DWORD done = 0;
        if (!::WriteFile(file.get(), content.data() + written, chunk, &done, nullptr) || done == 0)
            ThrowLastError(path);
        written += done;
    }
    if (!::FlushFileBuffers(file.get())) ThrowLastError(path);
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM windows) {
    reinterpret_cast<std::vector<HWND>*>(windows)->push_back(window);
    return TRUE;
}

std::wstring WindowText(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

void AddInput(std::vector<INPUT>& inputs, WORD vk, wchar_t character, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    if (character) {
        input.ki.wScan = static_cast<WORD>(character);
        input.ki.dwFlags = KEYEVENTF_UNICODE;
    } else {
        input.ki.wVk = vk;
    }
    if (up) input.ki.dwFlags |= KEYEVENTF_KEYUP;
    inputs.push_back(input);
}

}  // namespace

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring ArgumentsOf(const std::wstring& commandLine) {
    std::size_t at = 0;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const auto close = commandLine.find(L'"', 1);
        at = close == std::wstring::npos ? commandLine.size() : close + 1;
    }
    while (at < commandLine.size() && commandLine[at] != L' ' && commandLine[at] != L'\t') ++at;
    if (at < commandLine.size()) ++at;  // the one blank that separates the arguments
    return commandLine.substr(at);
}

RuntimeError ErrorFromWin32(DWORD code, const std::wstring& detail) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND: return errors::FileNotFound(detail);
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH: return errors::PathNotFound(detail);
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return errors::PermissionDenied(detail + L" is in use by another program.");
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return errors::PathFileAccess(detail);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return errors::DiskFull(detail);
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return errors::OutOfMemory();
    case ERROR_BAD_EXE_FORMAT: return errors::InvalidCall(detail);
    default: return errors::DeviceIo(detail);
    }
}

std::wstring ProgramFileIdentity(const std::wstring& path) {
    // The file itself, not the text of its path: a junction, a subst or mapped drive letter or
    // an 8.3 name all reach the same file index. The index is unique within a volume; the
    // creation time tells volumes apart (a copy gets a creation time of its own). The volume
    // serial number would do that too on Windows, but Wine makes one up per drive letter.
    UniqueFile file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (file && ::GetFileInformationByHandle(file.get(), &info)) {
        const std::uint64_t index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
        const std::uint64_t created = (std::uint64_t{info.ftCreationTime.dwHighDateTime} << 32) |
                                      info.ftCreationTime.dwLowDateTime;
        return Hex(index, 16) + L"-" + Hex(created, 16);
    }
    // A file that cannot be opened (it was deleted while running, say): its path, without case.
    std::uint64_t hash = 14695981039346656037ull;
    for (wchar_t c : MapCase(path, LCMAP_UPPERCASE)) {
        hash ^= static_cast<std::uint16_t>(c);
        hash *= 1099511628211ull;
    }
    return L"path-" + Hex(hash, 16);
}

std::wstring InstanceMutexName(const std::wstring& modulePath) {
    // "Another copy" is another process of the same program file in the same logon session:
    // the Local namespace is per session, so another user's copy, or a copy in another Steam
    // folder, runs undisturbed.
    return L"Local\\Nimbrel.Instance." + ProgramFileIdentity(modulePath);
}

bool ClaimInstance(const std::wstring& mutexName, UniqueProcess& mark) {
    mark.reset(::CreateMutexW(nullptr, FALSE, mutexName.c_str()));
    const DWORD error = ::GetLastError();
    // A first copy that runs elevated owns a mutex this copy may not open: it runs all the same.
    return error == ERROR_ALREADY_EXISTS || (!mark && error == ERROR_ACCESS_DENIED);
}

Win32Runtime::Win32Runtime(HINSTANCE instance) : modulePath_(ModulePath()) {
    prevInstance_ = ClaimInstance(InstanceMutexName(modulePath_), instanceMutex_);
    window_ = std::make_unique<Win32Window>(instance, title_);
}

Win32Runtime::~Win32Runtime() = default;

void Win32Runtime::LoadForm(const FormDesign& design) { window_->Load(design); }

void Win32Runtime::RunMessageLoop() {
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    ::ExitProcess(0);  // the window was closed
}

std::wstring Win32Runtime::AppPath() { return FolderOf(modulePath_); }

std::wstring Win32Runtime::AppExeName() {
    std::wstring name = modulePath_.substr(modulePath_.rfind(L'\\') + 1);
    const auto dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring Win32Runtime::AppTitle() { return title_; }

void Win32Runtime::SetAppTitle(const std::wstring& title) {
    title_ = title;
    window_->SetAppTitle(title);
}

bool Win32Runtime::AppPrevInstance() { return prevInstance_; }

std::wstring Win32Runtime::CommandText() { return ArgumentsOf(::GetCommandLineW()); }

std::wstring Win32Runtime::WindowsFolder() {
    wchar_t folder[MAX_PATH];
    // The shared Windows folder: on a Remote Desktop host the per-user one holds no explorer.exe.
    const UINT length = ::GetSystemWindowsDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length < MAX_PATH ? length : 0);
}

std::wstring Win32Runtime::LCase(const std::wstring& text) { return MapCase(text, LCMAP_LOWERCASE); }

std::wstring Win32Runtime::UCase(const std::wstring& text) { return MapCase(text, LCMAP_UPPERCASE); }

std::wstring Win32Runtime::Dir(const std::wstring& path) {
    if (path.empty()) return {};
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {};
    constexpr DWORD kNotNormal = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
    std::wstring name;
    do {
        if ((found.dwFileAttributes & kNotNormal) == 0) {
            name = found.cFileName;
            break;
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return name;
}

std::string Win32Runtime::ReadFileBytes(const std::wstring& path) {
    HeldFileWait wait;
    UniqueFile file(OpenFile(wait, path, GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN));
    if (!file) ThrowLastError(path);
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file.get(), &size)) ThrowLastError(path);
    if (size.QuadPart > 0x40000000) throw errors::OutOfMemory();
    std::string content(static_cast<std::size_t>(size.QuadPart), '\0');
    std::size_t read = 0;
    while (read < content.size()) {
        DWORD done = 0;
        if (!::ReadFile(file.get(), content.data() + read, static_cast<DWORD>(content.size() - read),
                        &done, nullptr)) {
            if (wait.Again(::GetLastError())) continue;  // a range another program has locked
            ThrowLastError(path);
        }
        if (done == 0) break;  // the file shrank while we read it
        read += done;
    }
    content.resize(read);
    return content;
}

void Win32Runtime::ReplaceFileBytes(const std::wstring& path, const std::string& content) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) ThrowLastError(path);
    // Checked here because a rename would go straight through a read-only file.
    if (attributes & FILE_ATTRIBUTE_READONLY)
        throw errors::PathFileAccess(path + L" is read-only; it was left unchanged.");
    HeldFileWait wait;
    {
        // Fail now, before writing anything, when another program keeps holding the file or we
        // may not replace it.
        UniqueFile probe(OpenFile(wait, path, GENERIC_WRITE | DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  OPEN_EXISTING, 0));
        if (!probe) ThrowLastError(path);
    }
    const std::wstring temporary = path + kTempSuffix;
    try {
        WriteNewFile(wait, temporary, content);
        constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        if (attributes & kKept) ::SetFileAttributesW(temporary.c_str(), attributes & kKept);
        // The original is untouched up to this one step. A scanner that opened the new file,
        // or the original since the check, shows as a sharing violation or access denied.
        while (!::MoveFileExW(temporary.c_str(), path.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            const DWORD error = ::GetLastError();
            if (!wait.Again(error, true)) throw ErrorFromWin32(error, path);
        }
    } catch (...) {
        ::DeleteFileW(temporary.c_str());
        throw;
    }
}

void Win32Runtime::ShowForm() { window_->Show(); }

void Win32Runtime::SetCaption(const std::wstring& caption) { window_->SetCaption(caption); }

void Win32Runtime::SetTimerEnabled(FormTimer timer, bool enabled) {
    window_->SetTimerEnabled(timer, enabled);
}

void Win32Runtime::MsgBox(const std::wstring& prompt, int style, const std::wstring& title) {
    ::MessageBoxW(window_->Form(), prompt.c_str(), title.c_str(), static_cast<UINT>(style) | MB_OK);
}

void Win32Runtime::DoEvents() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) Quit(static_cast<int>(message.wParam));
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

void Win32Runtime::Shell(const std::wstring& program, const std::wstring& arguments,
                         int windowStyle) {
    std::wstring commandLine = L"\"" + program + L"\"" + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(windowStyle == kMinimizedFocus ? SW_SHOWMINIMIZED
                                                                           : SW_SHOWNORMAL);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &started))
        ThrowLastError(program);
    UniqueProcess process(started.hProcess);
    UniqueProcess thread(started.hThread);
}

void Win32Runtime::End() { throw ProgramEnd{}; }

void Win32Runtime::ShowErrorBox(const RuntimeError& error) {
    HWND owner = window_->Form() && ::IsWindowVisible(window_->Form()) ? window_->Form() : nullptr;
    ::MessageBoxW(owner, ErrorBoxText(error).c_str(), title_.c_str(), MB_OK | MB_ICONHAND);
}

void Win32Runtime::Quit(int exitCode) { ::ExitProcess(static_cast<UINT>(exitCode)); }

void Win32Runtime::AppActivate(const std::wstring& title) {
    std::vector<HWND> windows;
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    HWND target = nullptr;
    for (HWND window : windows)
        if (WindowText(window) == title) {
            target = window;
            break;
        }
    if (!target)
        for (HWND window : windows)
            if (WindowText(window).compare(0, title.size(), title) == 0) {
                target = window;
                break;
            }
    if (!target || title.empty()) throw errors::InvalidCall(L"No window is titled " + title);
    if (!::SetForegroundWindow(target)) ::SetActiveWindow(target);
}

void Win32Runtime::SendKeys(const std::wstring& keys) {
    std::vector<INPUT> inputs;
    for (KeyStroke stroke : ParseKeys(keys)) {
        // A character typed with modifiers has to be its key, or Shift and Ctrl would not
        // apply to it; a plain one is typed as itself, whatever the keyboard layout.
        if (stroke.isCharacter && (stroke.shift || stroke.control || stroke.alt)) {
            const SHORT scan = ::VkKeyScanW(stroke.character);
            if (scan != -1) {
                stroke.isCharacter = false;
                stroke.virtualKey = LOBYTE(scan);
                stroke.shift = stroke.shift || (HIBYTE(scan) & 1);
            }
        }
        const wchar_t character = stroke.isCharacter ? stroke.character : 0;
        if (stroke.shift) AddInput(inputs, VK_SHIFT, 0, false);
        if (stroke.control) AddInput(inputs, VK_CONTROL, 0, false);
        if (stroke.alt) AddInput(inputs, VK_MENU, 0, false);
        AddInput(inputs, stroke.virtualKey, character, false);
        AddInput(inputs, stroke.virtualKey, character, true);
        if (stroke.alt) AddInput(inputs, VK_MENU, 0, true);
        if (stroke.control) AddInput(inputs, VK_CONTROL, 0, true);
        if (stroke.shift) AddInput(inputs, VK_SHIFT, 0, true);
    }
    if (!inputs.empty() &&
        ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size())
        throw errors::InvalidCall(L"The keys could not be sent.");
}

std::int32_t Win32Runtime::FindWindowA(const std::string& className, const std::string& title) {
    return static_cast<std::int32_t>(
        reinterpret_cast<INT_PTR>(::FindWindowA(className.c_str(), title.c_str())));
}

void Win32Runtime::ShowWindowAsync(std::int32_t window, int command) {
    ::ShowWindowAsync(ToWindow(window), command);
}

void Win32Runtime::SetWindowPos(std::int32_t window, std::int32_t insertAfter, int x, int y,
                                int cx, int cy, unsigned flags) {
    ::SetWindowPos(ToWindow(window), ToWindow(insertAfter), x, y, cx, cy, flags);
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

Handle Win32Runtime::OpenProcess(std::uint32_t access, bool inheritHandle, std::uint32_t processId) {
    return reinterpret_cast<Handle>(::OpenProcess(access, inheritHandle, processId));
}

bool Win32Runtime::TerminateProcess(Handle process, std::uint32_t exitCode) {
    return ::TerminateProcess(reinterpret_cast<HANDLE>(process), exitCode) != FALSE;
}

bool Win32Runtime::CloseHandle(Handle handle) {
    return ::CloseHandle(reinterpret_cast<HANDLE>(handle)) != FALSE;
}

}  // namespace platform
