// Files: the lookup, the whole-file read and the atomic replace of loginusers.vdf.
#include "platform/Win32Runtime.h"

#include <algorithm>

namespace platform {
namespace {

constexpr wchar_t kTempSuffix[] = L".nimbrel-tmp";

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
        HANDLE file =
            ::CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
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
    UniqueFile file(OpenFile(wait, path, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    DWORD error = file ? ERROR_SUCCESS : ::GetLastError();
    // A leftover of an interrupted run may carry the original's hidden and system attributes,
    // or be read-only; either refuses the create with access denied, every time, until cleared.
    // Without a leftover the refusal is the folder's, and that is what gets reported.
    if (error == ERROR_ACCESS_DENIED && ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL)) {
        file.reset(OpenFile(wait, path, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
        error = file ? ERROR_SUCCESS : ::GetLastError();
    }
    if (!file) throw ErrorFromWin32(error, path);
    std::size_t written = 0;
    while (written < content.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(content.size() - written, 1u << 24));
        DWORD done = 0;
        if (!::WriteFile(file.get(), content.data() + written, chunk, &done, nullptr) || done == 0)
            ThrowLastError(path);
        written += done;
    }
    if (!::FlushFileBuffers(file.get())) ThrowLastError(path);
}

}  // namespace

std::wstring Win32Runtime::Dir(const std::wstring& path) {
    if (path.empty()) return {};
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {};
    constexpr DWORD kNotNormal =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
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
        if (!::ReadFile(file.get(), content.data() + read,
                        static_cast<DWORD>(content.size() - read), &done, nullptr)) {
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

}  // namespace platform
