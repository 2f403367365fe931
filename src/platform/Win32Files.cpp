// Files: the lookup, the whole-file read and the atomic replace of loginusers.vdf.
#include "platform/Win32Runtime.h"

#include <algorithm>

namespace platform {

FileCalls& FileStepCalls() {
    static FileCalls calls{::CreateFileW,        ::GetFileSizeEx,
                           ::ReadFile,           ::WriteFile,
                           ::FlushFileBuffers,   ::GetFileAttributesW,
                           ::SetFileAttributesW, ::MoveFileExW,
                           ::DeleteFileW,        ::Sleep,
                           ::GetTickCount64};
    return calls;
}

namespace {

constexpr wchar_t kTempSuffix[] = L".nimbrel-tmp";
constexpr std::uint64_t kLargestFile = 0x40000000;  // read into memory whole
constexpr std::size_t kCompareChunk = 1u << 16;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Refusals that a step waits out besides a held file. A rename onto a file that another
// program has open, or a delete of a copy a scanner maps, is refused with access denied. A
// program that saves by renaming a new file over the original leaves, for a moment, no file at
// all, or one whose delete is pending, which opens as access denied (Windows gives the pending
// delete's own code only to calls that pass the open).
enum AlsoWaited : unsigned { kDenied = 1, kGone = 2 };

// Virus scanners, indexers and backup tools open a file for a moment right after it changes.
// A step they refuse is tried again after short pauses, for about two seconds from its first
// refusal; what cannot pass by waiting (a missing file at the first read, a denied folder) is
// reported at once. The first read, the first copy and the rename wait on clocks of their own,
// so a slow write never leaves the rename without its wait; whatever another program's saves
// make us do again shares one.
class HeldFileWait {
public:
    // True, after a pause, when the step that failed with error is to be tried again.
    bool Again(DWORD error, unsigned alsoWaited = 0) {
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                          error == ERROR_DELETE_PENDING ||
                          ((alsoWaited & (kDenied | kGone)) && error == ERROR_ACCESS_DENIED) ||
                          ((alsoWaited & kGone) && error == ERROR_FILE_NOT_FOUND);
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

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = FileStepCalls().GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// CreateFileW, tried again while another program holds the file.
HANDLE OpenFile(HeldFileWait& wait, const std::wstring& path, DWORD access, DWORD disposition,
                DWORD flags, unsigned alsoWaited = 0) {
    const DWORD share = disposition == OPEN_EXISTING ? kShareAll : 0;
    while (true) {
        HANDLE file = FileStepCalls().CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                                  flags, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD error = ::GetLastError();
        // A folder in the file's place answers access denied too, and for good.
        const bool folder =
            error == ERROR_ACCESS_DENIED && (alsoWaited & kDenied) && IsFolder(path);
        if (folder || !wait.Again(error, alsoWaited)) {
            ::SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
    }
}

// The size of an open file, or raises.
std::uint64_t SizeOf(HANDLE file, const std::wstring& path) {
    LARGE_INTEGER size;
    if (!FileStepCalls().GetFileSizeEx(file, &size)) ThrowLastError(path);
    return static_cast<std::uint64_t>(size.QuadPart);
}

// Reads up to size bytes of an open file into to; what was read, which is less only when the
// file ended early. A range that another program has locked is waited out.
std::size_t ReadInto(HeldFileWait& wait, HANDLE file, char* to, std::size_t size,
                     const std::wstring& path) {
    std::size_t read = 0;
    while (read < size) {
        DWORD done = 0;
        if (!FileStepCalls().ReadFile(
                file, to + read, static_cast<DWORD>(std::min<std::size_t>(size - read, 1u << 24)),
                &done, nullptr)) {
            const DWORD error = ::GetLastError();
            if (wait.Again(error)) continue;
            throw ErrorFromWin32(error, path);
        }
        if (done == 0) break;
        read += done;
    }
    return read;
}

// The whole file. Another program may save it while it is read: a read that ends short of the
// size it began with is read again (within wait), never taken for the whole. One that changed
// in other ways differs at the check before the rename, and is read again there.
std::string ReadWhole(HeldFileWait& wait, const std::wstring& path, unsigned alsoWaited = 0) {
    while (true) {
        UniqueFile file(OpenFile(wait, path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                                 alsoWaited));
        if (!file) ThrowLastError(path);
        const std::uint64_t size = SizeOf(file.get(), path);
        if (size > kLargestFile) throw errors::OutOfMemory();
        std::string bytes(static_cast<std::size_t>(size), '\0');
        if (ReadInto(wait, file.get(), bytes.data(), bytes.size(), path) == bytes.size())
            return bytes;
        if (!wait.Pause()) throw InUse(path);
    }
}

// Whether the file at path still holds exactly text, the bytes the copy was made from. It is
// opened as the rename needs it (write and delete access, all sharing): a program that still
// holds it refuses that, and is waited out, and so is a file that is gone or denied for a
// moment while another program swaps in a save of its own. The size settles most changes;
// a save of the same size is told by its bytes, whatever its time stamp says (FAT keeps
// times in 2 s steps, NTFS takes them from a clock that ticks every 16 ms).
bool StillHolds(HeldFileWait& wait, const std::wstring& path, const std::string& text) {
    UniqueFile original(OpenFile(wait, path, GENERIC_READ | GENERIC_WRITE | DELETE, OPEN_EXISTING,
                                 FILE_FLAG_SEQUENTIAL_SCAN, kGone));
    if (!original) ThrowLastError(path);
    if (SizeOf(original.get(), path) != text.size()) return false;
    std::string chunk(std::min(text.size(), kCompareChunk), '\0');
    for (std::size_t at = 0; at < text.size(); at += chunk.size()) {
        const std::size_t size = std::min(chunk.size(), text.size() - at);
        if (ReadInto(wait, original.get(), chunk.data(), size, path) != size ||
            text.compare(at, size, chunk.data(), size) != 0)
            return false;
    }
    return true;
}

// Writes bytes to a new file at temporary, with the original's kept attributes, and flushes
// it to disk, or raises. Failures name path, the user's file: the temporary copy means
// nothing to whoever reads the box.
void WriteNewFile(HeldFileWait& wait, const std::wstring& temporary, const std::string& bytes,
                  DWORD attributes, const std::wstring& path) {
    UniqueFile file(OpenFile(wait, temporary, GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    DWORD error = file ? ERROR_SUCCESS : ::GetLastError();
    // A copy written before (a leftover of an interrupted run, or this run's own before another
    // program saved) may carry the original's hidden and system attributes, or be read-only;
    // either refuses the create with access denied, every time, until cleared. Without one the
    // refusal is the folder's, and that is what gets reported.
    if (error == ERROR_ACCESS_DENIED &&
        FileStepCalls().SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL)) {
        file.reset(OpenFile(wait, temporary, GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
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
    file.reset();
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (attributes & kKept)
        FileStepCalls().SetFileAttributesW(temporary.c_str(), attributes & kKept);
}

// The attributes the copy is to take over from the file at path, or raises: at once for a
// read-only file, which a rename would go straight through; for a file that is gone or denied
// for a moment (another program swapping in its save), once that has lasted past wait.
DWORD AttributesToKeep(HeldFileWait& wait, const std::wstring& path) {
    DWORD attributes;
    while ((attributes = FileStepCalls().GetFileAttributesW(path.c_str())) ==
           INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (!wait.Again(error, kGone)) throw ErrorFromWin32(error, path);
    }
    if (attributes & FILE_ATTRIBUTE_READONLY)
        throw errors::PathFileAccess(path + L" is read-only; it was left unchanged.");
    return attributes;
}

// Removes the temporary copy after a failure. A scanner that opened it the moment it was
// written refuses the delete for a while: that is waited out like any other hold.
void DeleteTemporary(const std::wstring& temporary) noexcept {
    HeldFileWait wait;
    while (!FileStepCalls().DeleteFileW(temporary.c_str()))
        if (!wait.Again(::GetLastError(), kDenied)) return;
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
    // Another program's save by rename may land just now: the file is there, its delete pending.
    return ReadWhole(wait, path, kDenied);
}

void Win32Runtime::RewriteFile(const std::wstring& path, std::string text, const Rewrite& rewrite) {
    std::string copy = text;
    // Nothing to change means nothing to write: the file keeps its bytes and its time stamp.
    if (!rewrite(copy)) return;
    // One bound for everything another program's saves make us do again: the check, the
    // reads and the copies after a change. The first copy and the rename wait on their own.
    HeldFileWait writeWait, changeWait, renameWait;
    const std::wstring temporary = path + kTempSuffix;
    DWORD attributes = AttributesToKeep(changeWait, path);
    try {
        WriteNewFile(writeWait, temporary, copy, attributes, path);
        while (true) {
            // Just before the swap: the original must be free to replace, and still the text
            // the copy was made from. Another program (Steam saving as it shuts down, a sync
            // tool) may have saved it since; its save must not be lost.
            if (!StillHolds(changeWait, path, text)) {
                if (!changeWait.Pause()) throw InUse(path);  // it keeps changing
                text = ReadWhole(changeWait, path, kGone);
                copy = text;
                if (!rewrite(copy)) break;  // what it saved needs no change
                attributes = AttributesToKeep(changeWait, path);
                WriteNewFile(changeWait, temporary, copy, attributes, path);
                continue;
            }
            // The original is untouched up to this one step. A scanner that opened the new
            // copy, or the original since the check, refuses it: wait, then check again.
            if (FileStepCalls().MoveFileExW(temporary.c_str(), path.c_str(),
                                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return;
            const DWORD error = ::GetLastError();
            if (!renameWait.Again(error, kDenied))
                throw error == ERROR_ACCESS_DENIED ? InUse(path) : ErrorFromWin32(error, path);
        }
    } catch (...) {
        DeleteTemporary(temporary);
        throw;
    }
    DeleteTemporary(temporary);
}

}  // namespace platform
