// This application's own services: its facts (path, name, title, arguments, the mark of a
// running copy), case mapping, its window and message boxes, message processing and its end.
#include "platform/Win32Runtime.h"

#include "platform/Win32Window.h"

namespace platform {
namespace {

std::wstring FolderOf(const std::wstring& path) {
    const auto slash = path.rfind(L'\\');
    if (slash == std::wstring::npos) return path;
    std::wstring folder = path.substr(0, slash);
    // A drive root keeps its backslash: "C:\", never "C:".
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
    return folder;
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

}  // namespace

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
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

namespace {

// What a Windows error code reads as: a classic run-time error, with what follows the name of
// the file or program it is about. Codes not listed read as a device I/O error.
struct Win32Error {
    DWORD code;
    RuntimeError (*error)(std::wstring detail);
    const wchar_t* afterDetail;
};
constexpr wchar_t kInUse[] = L" is in use by another program.";
const Win32Error kWin32Errors[] = {
    {ERROR_FILE_NOT_FOUND, errors::FileNotFound, L""},
    {ERROR_PATH_NOT_FOUND, errors::PathNotFound, L""},
    {ERROR_INVALID_NAME, errors::PathNotFound, L""},
    {ERROR_BAD_NETPATH, errors::PathNotFound, L""},
    {ERROR_FILENAME_EXCED_RANGE, errors::PathNotFound, L""},
    {ERROR_SHARING_VIOLATION, errors::PermissionDenied, kInUse},
    {ERROR_LOCK_VIOLATION, errors::PermissionDenied, kInUse},
    // A scanner still holds a file that was deleted: a moment's matter, like a held file.
    {ERROR_DELETE_PENDING, errors::PermissionDenied, kInUse},
    {ERROR_ACCESS_DENIED, errors::PathFileAccess, L""},
    {ERROR_WRITE_PROTECT, errors::PathFileAccess, L""},
    {ERROR_DISK_FULL, errors::DiskFull, L""},
    {ERROR_HANDLE_DISK_FULL, errors::DiskFull, L""},
    // The user's share of the disk is used up: to the user, the disk is full.
    {kErrorDiskQuotaExceeded, errors::DiskFull, L""},
    {kErrorElevationRequired, errors::PermissionDenied, L" needs to run as administrator."},
    {ERROR_NOT_ENOUGH_MEMORY, [](std::wstring) { return errors::OutOfMemory(); }, L""},
    {ERROR_OUTOFMEMORY, [](std::wstring) { return errors::OutOfMemory(); }, L""},
    {ERROR_BAD_EXE_FORMAT, errors::InvalidCall, L""},
};

}  // namespace

RuntimeError ErrorFromWin32(DWORD code, const std::wstring& detail) {
    for (const Win32Error& row : kWin32Errors)
        if (row.code == code) return row.error(detail + row.afterDetail);
    return errors::DeviceIo(detail);
}

void ThrowLastError(const std::wstring& detail) { throw ErrorFromWin32(::GetLastError(), detail); }

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
    window_ = std::make_unique<Win32Window>(
        instance, title_, [this](const std::exception_ptr& failure) { Fail(failure); });
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

std::wstring Win32Runtime::LCase(const std::wstring& text) {
    return MapCase(text, LCMAP_LOWERCASE);
}

std::wstring Win32Runtime::UCase(const std::wstring& text) {
    return MapCase(text, LCMAP_UPPERCASE);
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

void Win32Runtime::End() { throw ProgramEnd{}; }

void Win32Runtime::ShowErrorBox(const RuntimeError& error) {
    HWND owner = window_->Form() && ::IsWindowVisible(window_->Form()) ? window_->Form() : nullptr;
    ::MessageBoxW(owner, ErrorBoxText(error).c_str(), title_.c_str(), MB_OK | MB_ICONHAND);
}

void Win32Runtime::Quit(int exitCode) { ::ExitProcess(static_cast<UINT>(exitCode)); }

}  // namespace platform
