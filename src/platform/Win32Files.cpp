// Files: the lookup, the whole-file read and the atomic replace of loginusers.vdf.
#include "platform/Win32Runtime.h"

#include <algorithm>

namespace platform {

FileCalls& FileStepCalls() {
    static FileCalls calls{::CreateFileW,
                           ::GetFileSizeEx,
                           ::GetFileTime,
                           ::ReadFile,
                           ::WriteFile,
                           ::FlushFileBuffers,
                           ::GetFileAttributesW,
                           ::SetFileAttributesW,
                           ::MoveFileExW,
                           ::DeleteFileW,
                           ::Sleep,
                           ::GetTickCount64};
    return calls;
}

namespace {

constexpr wchar_t kTempSuffix[] = L".nimbrel-tmp";
constexpr std::uint64_t kLargestFile = 0x40000000;  // read into memory whole
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Virus scanners, indexers and backup tools open a file for a moment right after it changes.
// A step they refuse is tried again after short pauses, for about two seconds from its first
// refusal; what cannot pass by waiting (a missing file, a denied folder) is reported at once.
// Each step has a wait of its own, so a slow write never leaves the rename without one.
class HeldFileWait {
public:
    // True, after a pause, when the step that failed with error is to be tried again.
    // deniedToo: access denied counts as held too (a rename or a delete, which a file open
    // without delete sharing refuses so).
    bool Again(DWORD error, bool deniedToo = false) {
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                          (deniedToo && error == ERROR_ACCESS_DENIED);
        return held && Pause();
    }

    // Pauses and returns true while the two seconds since the first pause are not over.
    bool Pause() {
        const ULONGLONG now = FileStepCalls().GetTickCount64();
        if (!started_) deadline_ = now + kWaitMs;
        started_ = true;
        if (now >= deadline_) return false;
        FileStepCalls().Sleep(static_cast<DWORD>(std::min<ULONGLONG>(pause_, deadline_ - now)));
        pause_ = std::min<DWORD>(pause_ * 2, kLongestPauseMs);
        return true;
    }

private:
    static constexpr DWORD kWaitMs = 2000;
    static constexpr DWORD kLongestPauseMs = 200;
    bool started_ = false;
    ULONGLONG deadline_ = 0;
    DWORD pause_ = 10;
};

// What a file that another program keeps holding, or keeps saving, is reported as.
RuntimeError InUse(const std::wstring& path) {
    return ErrorFromWin32(ERROR_SHARING_VIOLATION, path);
}

// CreateFileW, tried again while another program holds the file.
HANDLE OpenFile(HeldFileWait& wait, const std::wstring& path, DWORD access, DWORD share,
                DWORD disposition, DWORD flags) {
    while (true) {
        HANDLE file = FileStepCalls().CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                                  flags, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD error = ::GetLastError();
        if (!wait.Again(error)) {
            ::SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
    }
}

// The saved version of an open file; false, with the last error set, when it cannot be told.
bool VersionOf(HANDLE file, FileVersion& version) {
    LARGE_INTEGER size;
    FILETIME lastWrite;
    if (!FileStepCalls().GetFileSizeEx(file, &size) ||
        !FileStepCalls().GetFileTime(file, nullptr, nullptr, &lastWrite))
        return false;
    version.size = static_cast<std::uint64_t>(size.QuadPart);
    version.lastWrite = (std::uint64_t{lastWrite.dwHighDateTime} << 32) | lastWrite.dwLowDateTime;
    return true;
}

// The whole file as one saved version. Another program may save it while it is read: a read
// that ends short of the size it began with is read again (within wait), never taken for the
// whole. One that changed in other ways shows as another version at the check before the
// rename, and is read again there.
FileContent ReadWhole(HeldFileWait& wait, const std::wstring& path) {
    while (true) {
        UniqueFile file(OpenFile(wait, path, GENERIC_READ, kShareAll, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN));
        FileContent content;
        if (!file || !VersionOf(file.get(), content.version)) ThrowLastError(path);
        if (content.version.size > kLargestFile) throw errors::OutOfMemory();
        content.bytes.resize(static_cast<std::size_t>(content.version.size));
        std::size_t read = 0;
        while (read < content.bytes.size()) {
            DWORD done = 0;
            if (!FileStepCalls().ReadFile(file.get(), content.bytes.data() + read,
                                          static_cast<DWORD>(content.bytes.size() - read), &done,
                                          nullptr)) {
                const DWORD error = ::GetLastError();
                if (wait.Again(error)) continue;  // a range another program has locked
                throw ErrorFromWin32(error, path);
            }
            if (done == 0) break;  // the file shrank while we read it
            read += done;
        }
        if (read == content.bytes.size()) return content;
        if (!wait.Pause()) throw InUse(path);
    }
}

// Writes bytes to a new file at temporary and flushes it to disk, or raises. Failures name
// path, the user's file: the temporary copy means nothing to whoever reads the box.
void WriteNewFile(const std::wstring& temporary, const std::string& bytes,
                  const std::wstring& path) {
    HeldFileWait wait;
    UniqueFile file(
        OpenFile(wait, temporary, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    DWORD error = file ? ERROR_SUCCESS : ::GetLastError();
    // A leftover of an interrupted run may carry the original's hidden and system attributes,
    // or be read-only; either refuses the create with access denied, every time, until cleared.
    // Without a leftover the refusal is the folder's, and that is what gets reported.
    if (error == ERROR_ACCESS_DENIED &&
        FileStepCalls().SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL)) {
        file.reset(
            OpenFile(wait, temporary, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
        error = file ? ERROR_SUCCESS : ::GetLastError();
    }
    if (!file) throw ErrorFromWin32(error, path);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1u << 24));
        DWORD done = 0;
        if (!FileStepCalls().WriteFile(file.get(), bytes.data() + written, chunk, &done, nullptr))
            ThrowLastError(path);
        if (done == 0) throw ErrorFromWin32(ERROR_DISK_FULL, path);
        written += done;
    }
    if (!FileStepCalls().FlushFileBuffers(file.get())) ThrowLastError(path);
}

// Removes the temporary copy after a failure. A scanner that opened it the moment it was
// written refuses the delete for a while: that is waited out like any other hold.
void DeleteTemporary(const std::wstring& temporary) noexcept {
    HeldFileWait wait;
    while (!FileStepCalls().DeleteFileW(temporary.c_str()))
        if (!wait.Again(::GetLastError(), true)) return;
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

FileContent Win32Runtime::ReadFileBytes(const std::wstring& path) {
    HeldFileWait wait;
    return ReadWhole(wait, path);
}

void Win32Runtime::ReplaceFileBytes(const std::wstring& path, const FileContent& content,
                                    const Rewrite& rewrite) {
    const DWORD attributes = FileStepCalls().GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) ThrowLastError(path);
    // Checked here because a rename would go straight through a read-only file.
    if (attributes & FILE_ATTRIBUTE_READONLY)
        throw errors::PathFileAccess(path + L" is read-only; it was left unchanged.");
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const std::wstring temporary = path + kTempSuffix;
    HeldFileWait checkWait, renameWait;
    FileContent saved;  // what another program saved meanwhile, once it has
    const FileContent* source = &content;
    try {
        bool copyWritten = false;
        while (true) {
            if (!copyWritten) {
                WriteNewFile(temporary, source->bytes, path);
                if (attributes & kKept)
                    FileStepCalls().SetFileAttributesW(temporary.c_str(), attributes & kKept);
                copyWritten = true;
            }
            // Just before the swap: the original must be free to replace, and still the
            // version the copy was made from. Another program (Steam saving as it shuts down,
            // a sync tool) may have saved it since; its save must not be lost.
            FileVersion current;
            {
                UniqueFile original(OpenFile(checkWait, path,
                                             GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES,
                                             kShareAll, OPEN_EXISTING, 0));
                if (!original || !VersionOf(original.get(), current)) ThrowLastError(path);
            }
            if (current != source->version) {
                if (!checkWait.Pause()) throw InUse(path);  // it keeps changing
                saved = ReadWhole(checkWait, path);
                source = &saved;
                if (!rewrite(saved.bytes)) break;  // what it saved needs no change
                copyWritten = false;
                continue;
            }
            // The original is untouched up to this one step. A scanner that opened the new
            // copy, or the original since the check, refuses it: wait, then check again.
            if (FileStepCalls().MoveFileExW(temporary.c_str(), path.c_str(),
                                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return;
            const DWORD error = ::GetLastError();
            if (!renameWait.Again(error, true))
                throw error == ERROR_ACCESS_DENIED ? InUse(path) : ErrorFromWin32(error, path);
        }
    } catch (...) {
        DeleteTemporary(temporary);
        throw;
    }
    DeleteTemporary(temporary);
}

}  // namespace platform
