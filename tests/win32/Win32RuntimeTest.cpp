// The Win32 runtime for real, under Wine: files, lookups, processes, windows and keys.
#include "platform/Win32Runtime.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>

#include "TestBed.h"
#include "app/Form1.h"
#include "loginusers/OfflineFlags.h"
#include "process/Prozess.h"

namespace fs = std::filesystem;
using platform::RuntimeError;
using platform::UniqueProcess;
using platform::Win32Runtime;
using wine::WaitUntil;

namespace {

std::wstring Scratch(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const fs::path folder = fs::path(temp) / L"nimbrel-win32" / name;
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(folder, ignored))
        ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(folder, ignored);
    fs::create_directories(folder);
    return folder.wstring();
}

void Write(const std::wstring& path, const std::string& bytes) {
    std::ofstream(fs::path(path), std::ios::binary) << bytes;
}

std::string Read(const std::wstring& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

int ErrorNumber(const std::function<void()>& action) {
    try {
        action();
    } catch (const RuntimeError& error) {
        return error.Number();
    }
    return 0;
}

bool CanCreateIn(const std::wstring& folder) {
    const std::wstring probe = folder + L"\\probe";
    HANDLE created =
        ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (created == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(created);
    ::DeleteFileW(probe.c_str());
    return true;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().wstring());
    return names;
}

Win32Runtime& Runtime() {
    static Win32Runtime runtime(::GetModuleHandleW(nullptr));
    return runtime;
}

// Replaces file with bytes through the write-back, as made from the text there now (if any).
void ReplaceWith(const std::wstring& file, const std::string& bytes) {
    std::string text;
    try {
        text = Runtime().ReadFileBytes(file);
    } catch (const RuntimeError&) {}
    Runtime().RewriteFile(file, text, [&](std::string& to) { return (to = bytes), true; });
}

}  // namespace

TEST(ReplaceFileBytes, ReplacesTheWholeFileAndKeepsItsAttributes) {
    const std::wstring folder = Scratch(L"replace");
    const std::wstring file = folder + L"\\loginusers.vdf";
    Write(file, "old content that is longer than the new one");
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN);
    const std::string content("new\0\r\n\xff", 7);
    ReplaceWith(file, content);
    EXPECT_EQ(Read(file), content);
    EXPECT_TRUE(::GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_THAT(FilesIn(folder), ::testing::ElementsAre(L"loginusers.vdf"));
}

TEST(ReplaceFileBytes, AnyFailureLeavesTheOriginalAndNoTemporaryFile) {
    struct Case {
        const char* name;
        int number;
    };
    for (const Case c :
         {Case{"read-only", 75}, Case{"locked", 70}, Case{"missing", 53}, Case{"folder", 75}}) {
        SCOPED_TRACE(c.name);
        const std::wstring folder = Scratch(L"fail");
        const std::wstring file = folder + L"\\loginusers.vdf";
        HANDLE lock = INVALID_HANDLE_VALUE;
        if (std::string(c.name) == "folder") {
            ::CreateDirectoryW(file.c_str(), nullptr);
        } else if (std::string(c.name) != "missing") {
            Write(file, "original");
        }
        if (std::string(c.name) == "read-only")
            ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
        if (std::string(c.name) == "locked")
            lock = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        const int number = ErrorNumber([&] { ReplaceWith(file, "replaced"); });
        if (lock != INVALID_HANDLE_VALUE) ::CloseHandle(lock);
        if (std::string(c.name) == "folder") {
            EXPECT_NE(number, 0);
            EXPECT_TRUE(::GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
        } else {
            EXPECT_EQ(number, c.number);
        }
        if (std::string(c.name) == "read-only" || std::string(c.name) == "locked") {
            EXPECT_EQ(Read(file), "original");
        }
        EXPECT_EQ(FilesIn(folder).size(), std::string(c.name) == "missing" ? 0u : 1u)
            << "temporary file left";
    }
}

TEST(ReplaceFileBytes, AFolderThatMayNotBeWrittenIsReportedAsSuchAndLeftAsItWas) {
    const std::wstring folder = Scratch(L"unwritable");
    const std::wstring file = folder + L"\\loginusers.vdf";
    Write(file, "original");
    // A folder's read-only attribute means nothing on Windows, nor under Wine: the folder's own
    // permissions are taken away.
    int number = 0;
    {
        testbed::FolderWritesDenied denied(folder);
        if (CanCreateIn(folder))
            GTEST_SKIP() << "this user writes into any folder (root, under Wine); the unprivileged "
                            "run checks it";
        number = ErrorNumber([&] { ReplaceWith(file, "replaced"); });
    }
    EXPECT_EQ(number, 75) << "access denied, not a missing file";
    EXPECT_EQ(Read(file), "original");
    EXPECT_THAT(FilesIn(folder), ::testing::ElementsAre(L"loginusers.vdf"));
}

TEST(ReplaceFileBytes, ALeftoverOfAnInterruptedRunNeverBlocksTheNextOne) {
    // What a run killed between the attributes and the rename leaves: the new file, already
    // hidden and system like the original; or one somebody made read-only.
    for (const DWORD leftover :
         {DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
          DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY}}) {
        SCOPED_TRACE(leftover);
        const std::wstring folder = Scratch(L"leftover");
        const std::wstring file = folder + L"\\loginusers.vdf";
        Write(file, "original");
        ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        Write(file + L".nimbrel-tmp", "half of an earlier ru");
        ::SetFileAttributesW((file + L".nimbrel-tmp").c_str(), leftover);
        EXPECT_EQ(ErrorNumber([&] { ReplaceWith(file, "replaced"); }), 0);
        EXPECT_EQ(Read(file), "replaced");
        EXPECT_EQ(
            ::GetFileAttributesW(file.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM});
        EXPECT_THAT(FilesIn(folder), ::testing::ElementsAre(L"loginusers.vdf"));
    }
}

// The file step's system calls, failing one at a time (which call, how), or another program
// saving the file just before one of them; and a clock of the test's own, so that waiting out a
// hold costs no real time.
enum class Fault {
    Moment,
    ForGood,
    Denied,
    DiskFull,
    IoError,
    Gone,
    Pending,
    LongName,
    Quota,
    Cancelled,
    ShortRead
};
enum class Save { None, SameTick, ByRename, NeedsNoChange, KeepsSaving };
struct Injection {
    int failAt = -1;
    Fault fault = Fault::Moment;
    int saveAt = -1;
    Save save = Save::None;
    std::wstring file;
    std::vector<std::string> calls;
    std::string heldForGood;       // the call that keeps failing once it failed
    bool scannerHeldCopy = false;  // the first delete of the copy is refused, as a scanner does
    int saves = 0;
    std::string lastSaved;
    ULONGLONG clock = 1000;
} injection;
const platform::FileCalls kSystem = platform::FileStepCalls();

const std::string kBefore =
    "\"Timestamp\"\t\t\"1735587881\"\r\n\"WantsOfflineMode\"\t\t\"0\"\r\n"
    "\"SkipOfflineModeWarning\"\t\t\"0\"\r\n";

std::string Offline(std::string text) {
    loginusers::RewriteOfflineFlags(text, loginusers::kFlagOff, loginusers::kFlagOn);
    return text;
}

// Another program's save: the same size, a new time stamp, the account's flags as they were.
std::string Stamped(int stamp, const std::string& flag = "0") {
    return "\"Timestamp\"\t\t\"17355879" + std::to_string(10 + stamp) +
           "\"\r\n\"WantsOfflineMode\"\t\t\"" + flag + "\"\r\n\"SkipOfflineModeWarning\"\t\t\"" +
           flag + "\"\r\n";
}

// Writes text into file through a handle of its own, the way another program saves: in place,
// with the time stamp put back as a coarse clock leaves it (keepTime), or as a new file renamed
// over it.
void SaveAsAnotherProgram(const std::wstring& file, const std::string& text, bool byRename,
                          bool keepTime) {
    const std::wstring target = byRename ? file + L".other" : file;
    HANDLE out = ::CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               byRename ? CREATE_ALWAYS : OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    FILETIME written;
    ::GetFileTime(out, nullptr, nullptr, &written);
    DWORD done = 0;
    ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
    ::SetEndOfFile(out);
    if (keepTime) ::SetFileTime(out, nullptr, nullptr, &written);
    ::CloseHandle(out);
    if (byRename) {
        ASSERT_TRUE(::MoveFileExW(target.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING));
    }
    injection.lastSaved = text;
}

// More calls than one run of the file step makes with every wait it has run out. A step whose
// bound is broken would go on for ever here: then the saves and faults stop, and the row fails.
constexpr int kMostCalls = 1000;

// Records the call, makes the save due before it, and says how it is to fail (0: not at all).
DWORD Before(const std::string& call) {
    const int index = static_cast<int>(injection.calls.size());
    injection.calls.push_back(call);
    Injection& in = injection;
    if (index == kMostCalls) {
        ADD_FAILURE() << "waited " << kMostCalls << " calls (" << in.clock - 1000
                      << " ms of its clock) for the file step to give up";
        in.save = Save::None, in.failAt = -1, in.heldForGood.clear();
    }
    if (in.save != Save::None && (index == in.saveAt || (in.save == Save::KeepsSaving &&
                                                         in.saveAt >= 0 && index > in.saveAt))) {
        const int stamp = ++in.saves;
        SaveAsAnotherProgram(in.file, Stamped(stamp, in.save == Save::NeedsNoChange ? "1" : "0"),
                             in.save == Save::ByRename, in.save == Save::SameTick);
    }
    if (index == in.failAt) {
        if (in.fault == Fault::ForGood) in.heldForGood = call;
        const DWORD errors[] = {ERROR_SHARING_VIOLATION,
                                ERROR_SHARING_VIOLATION,
                                ERROR_ACCESS_DENIED,
                                ERROR_DISK_FULL,
                                ERROR_IO_DEVICE,
                                ERROR_FILE_NOT_FOUND,
                                ERROR_DELETE_PENDING,
                                ERROR_FILENAME_EXCED_RANGE,
                                platform::kErrorDiskQuotaExceeded,
                                ERROR_CANCELLED};
        return in.fault == Fault::ShortRead ? 0 : errors[static_cast<int>(in.fault)];
    }
    return in.heldForGood == call ? ERROR_SHARING_VIOLATION : 0;
}

template <class R>
R FailedResult() {
    if constexpr (std::is_same_v<R, HANDLE>)
        return INVALID_HANDLE_VALUE;
    else if constexpr (std::is_same_v<R, DWORD>)
        return INVALID_FILE_ATTRIBUTES;
    else
        return FALSE;
}

template <auto a, auto b>
inline constexpr bool kIs = false;
template <auto a>
inline constexpr bool kIs<a, a> = true;

// Stands in for one entry of the table: records the call (with the name of the file, where it
// takes one), fails it when told to, else makes the system's own.
template <auto entry>
struct FakeCall;
template <class R, class... A, R (WINAPI* platform::FileCalls::*entry)(A...)>
struct FakeCall<entry> {
    static inline const char* name = nullptr;
    static R WINAPI Call(A... args) {
        std::string call = name;
        if constexpr (std::is_same_v<std::tuple_element_t<0, std::tuple<A...>>, LPCWSTR>)
            call += " " + Narrow(fs::path(std::get<0>(std::tuple<A...>(args...))).filename());
        const bool shortRead = injection.fault == Fault::ShortRead &&
                               static_cast<int>(injection.calls.size()) == injection.failAt;
        if (const DWORD error = Before(call)) {
            ::SetLastError(error);
            return FailedResult<R>();
        }
        if constexpr (kIs<entry, &platform::FileCalls::ReadFile>) {
            if (shortRead) {  // the end of the file, early: it shrank under the read
                *std::get<3>(std::tuple<A...>(args...)) = 0;
                return TRUE;
            }
        } else if constexpr (kIs<entry, &platform::FileCalls::WriteFile>) {
            injection.clock += 2500;  // as slow as a busy network share: no wait may count it
        } else if constexpr (kIs<entry, &platform::FileCalls::DeleteFileW>) {
            if (!std::exchange(injection.scannerHeldCopy, true)) {
                ::SetLastError(ERROR_SHARING_VIOLATION);
                return FALSE;
            }
        }
        return (kSystem.*entry)(args...);
    }
};
VOID WINAPI TestSleep(DWORD ms) { injection.clock += ms; }
ULONGLONG WINAPI TestTicks() { return injection.clock; }

// Puts the fakes in the file step's table for as long as it lives, so that a failing test
// cannot leave them there for the next.
class FakeFileCalls {
public:
    FakeFileCalls() {
        platform::FileCalls& calls = platform::FileStepCalls();
#define NIMBREL_FAKE(entry) Install<&platform::FileCalls::entry>(calls.entry, #entry)
        NIMBREL_FAKE(CreateFileW);
        NIMBREL_FAKE(GetFileSizeEx);
        NIMBREL_FAKE(ReadFile);
        NIMBREL_FAKE(WriteFile);
        NIMBREL_FAKE(FlushFileBuffers);
        NIMBREL_FAKE(GetFileAttributesW);
        NIMBREL_FAKE(SetFileAttributesW);
        NIMBREL_FAKE(MoveFileExW);
        NIMBREL_FAKE(DeleteFileW);
#undef NIMBREL_FAKE
        calls.Sleep = TestSleep;
        calls.GetTickCount64 = TestTicks;
    }
    ~FakeFileCalls() { platform::FileStepCalls() = kSystem; }

private:
    template <auto entry, class Function>
    static void Install(Function& slot, const char* name) {
        FakeCall<entry>::name = name;
        slot = &FakeCall<entry>::Call;
    }
};

// Form1's start-up over the real file step, with what the user would see recorded: the boxes
// and the Steam starts. Quit unwinds to the test.
class RecordingRuntime : public Win32Runtime {
public:
    struct Ended {};
    explicit RecordingRuntime(std::wstring steam)
        : Win32Runtime(::GetModuleHandleW(nullptr)), steam_(std::move(steam)) {}
    std::wstring AppPath() override { return steam_; }
    bool AppPrevInstance() override { return false; }
    std::wstring CommandText() override { return L""; }
    void MsgBox(const std::wstring& text, int, const std::wstring&) override {
        boxes.push_back(text);
    }
    void ShowErrorBox(const RuntimeError& error) override {
        boxes.push_back(platform::ErrorBoxText(error));
    }
    void Shell(const std::wstring&, const std::wstring&, int) override { ++steamStarts; }
    void SetTimerEnabled(platform::FormTimer, bool) override {}
    [[noreturn]] void Quit(int) override { throw Ended{}; }

    std::vector<std::wstring> boxes;
    int steamStarts = 0;

private:
    std::wstring steam_;
};

TEST(FileStep, EveryFileCallFailingInTurnOrAnotherSaveBeforeItKeepsEveryonesTextAndSaysWhy) {
    const std::wstring steam = Scratch(L"faults");
    const std::wstring config = steam + L"\\config", file = config + L"\\loginusers.vdf";
    ::CreateDirectoryW(config.c_str(), nullptr);
    Write(steam + L"\\steam.exe", "x");
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ::SetCurrentDirectoryW(steam.c_str());
    RecordingRuntime runtime(steam);
    app::Form1 form(runtime);
    runtime.LoadForm(form.Design());
    FakeFileCalls fakes;
    const auto run = [&](Injection how) {
        Write(file, kBefore);
        injection = std::move(how);
        injection.file = file;
        runtime.boxes.clear();
        runtime.steamStarts = 0;
        try {
            form.Guard([&] { form.Form_Load(); });
        } catch (const RecordingRuntime::Ended&) {}
    };
    run({});
    const std::vector<std::string> calls = injection.calls;
    ASSERT_EQ(Read(file), Offline(kBefore));
    const std::string original = "CreateFileW loginusers.vdf";
    const int read =
        static_cast<int>(std::find(calls.begin(), calls.end(), original) - calls.begin());
    const int check = static_cast<int>(std::find(calls.begin() + read + 1, calls.end(), original) -
                                       calls.begin());
    const int readEnd = static_cast<int>(
        std::find(calls.begin(), calls.end(), "GetFileAttributesW loginusers.vdf") - calls.begin());
    const int rename = static_cast<int>(calls.size()) - 1;
    ASSERT_LT(check, rename);
    ASSERT_EQ(calls[rename], "MoveFileExW loginusers.vdf.nimbrel-tmp");

    // What the user sees, and what the file holds, after one row.
    const auto expect = [&](const std::string& file_text, int errorNumber) {
        EXPECT_THAT(FilesIn(config), ::testing::ElementsAre(L"loginusers.vdf"));
        EXPECT_EQ(Read(file), file_text);
        EXPECT_EQ(runtime.steamStarts > 0, errorNumber == 0);
        if (errorNumber == 0) {
            EXPECT_THAT(runtime.boxes, ::testing::IsEmpty()) << Narrow(runtime.boxes[0]);
            return;
        }
        ASSERT_THAT(runtime.boxes, ::testing::SizeIs(1));
        const std::wstring& box = runtime.boxes[0];
        EXPECT_EQ(box.rfind(L"Run-time error '" + platform::DecimalText(errorNumber) + L"':", 0),
                  0u)
            << Narrow(box);
        EXPECT_NE(box.find(L"\r\n\r\n" + file), std::wstring::npos) << Narrow(box);
        EXPECT_EQ(box.find(L"nimbrel-tmp"), std::wstring::npos) << Narrow(box);
    };
    int cases = 0;
    for (int at = 0; at < static_cast<int>(calls.size()); ++at) {
        const std::string& call = calls[at];
        for (const Fault fault : {Fault::Moment, Fault::ForGood, Fault::Denied, Fault::DiskFull,
                                  Fault::IoError, Fault::Gone, Fault::Pending, Fault::LongName,
                                  Fault::Quota, Fault::Cancelled, Fault::ShortRead}) {
            if (fault == Fault::ShortRead && call != "ReadFile") continue;
            SCOPED_TRACE(call + " #" + std::to_string(at) + " fails, fault " +
                         std::to_string(static_cast<int>(fault)));
            Injection how;
            how.failAt = at;
            how.fault = fault;
            run(how);
            ++cases;
            // What passes by waiting, or by reading again, never fails the run: a moment's hold
            // at an open, a read or the rename; a denied first read or rename; at the check, a file
            // gone or denied for a moment while another program swaps in its save, and the same
            // at the attributes read before the copy. The copy's attributes are a nicety, never
            // worth failing the run for.
            const bool waitedOut =
                fault == Fault::ShortRead ||
                call == "SetFileAttributesW loginusers.vdf.nimbrel-tmp" ||
                ((fault == Fault::Moment || fault == Fault::Pending) &&
                 (call.rfind("CreateFileW", 0) == 0 || call == "ReadFile" || at == rename)) ||
                (fault == Fault::Denied && (at == read || at == check || at == rename)) ||
                (fault == Fault::Gone && at == check) ||
                (at == readEnd && (fault == Fault::Moment || fault == Fault::Denied ||
                                   fault == Fault::Gone || fault == Fault::Pending));
            const int numbers[] = {70, 70, 75, 61, 57, 53, 70, 76, 61, 57, 0};
            expect(waitedOut ? Offline(kBefore) : kBefore,
                   waitedOut ? 0 : numbers[static_cast<int>(fault)]);
        }
        for (const Save save :
             {Save::SameTick, Save::ByRename, Save::NeedsNoChange, Save::KeepsSaving}) {
            // A save by rename after the check opened the original, or any save after the
            // check read it, is the moment no rename-based replace can exclude.
            // A rename over the original waits while Nimbrel holds it open, as on Windows.
            const bool inPlace = save == Save::SameTick || save == Save::NeedsNoChange;
            const bool held = (at > read && at < readEnd) || at > check;
            if (inPlace ? at >= rename : held) continue;
            SCOPED_TRACE("another program saves before " + call + " #" + std::to_string(at) +
                         ", save " + std::to_string(static_cast<int>(save)));
            Injection how;
            how.saveAt = at;
            how.save = save;
            run(how);
            ++cases;
            if (save == Save::KeepsSaving) {
                expect(injection.lastSaved, 70);  // as the other program left it
            } else if (save == Save::NeedsNoChange) {
                expect(Stamped(1, "1"), 0);
                EXPECT_THAT(injection.calls,
                            ::testing::Not(::testing::Contains(
                                ::testing::StartsWith("MoveFileExW"))));  // unwritten
            } else {
                expect(Offline(Stamped(1)), 0);
            }
        }
    }
    ::SetCurrentDirectoryW(previous);
    std::printf("file step: %d calls, %d cases\n", static_cast<int>(calls.size()), cases);
}

// What a fault in a handler looks like: a button whose handler throws past every guard.
void ClickAButtonWhoseHandlerThrows() {
    Win32Runtime runtime(::GetModuleHandleW(nullptr));
    platform::ControlDesign button{
        platform::ControlDesign::Kind::Button, L"B", 0, 0, 900, 300, L"Throw"};
    button.onClick = [] { throw std::logic_error("a fault"); };
    runtime.LoadForm({L"NimbrelThrowTest", L"Throw", 1500, 600, 0, {}, {button}});
    HWND form = ::FindWindowW(L"NimbrelThrowTest", nullptr);
    std::thread bound([] {  // the box closed by the watcher ends this process; if it never does:
        ::Sleep(20000);
        std::fputs("waited 20000 ms for the error box to show and be closed\n", stderr);
        ::ExitProcess(2);
    });
    bound.detach();
    ::SendMessageW(form, WM_COMMAND, MAKEWPARAM(100, BN_CLICKED), 0);
    ::ExitProcess(0);
}

TEST(Callbacks, AFailureThatEscapesAHandlerEndsThroughTheErrorBoxNotSilently) {
    NIMBREL_SKIP_WITHOUT_DESKTOP();
    // In a process of its own, a button whose handler throws past every guard, as a fault in a
    // handler would; meanwhile this process watches for the box and closes it.
    std::wstring box;
    std::atomic<bool> over{false};
    std::thread watcher([&] {
        while (!over) {
            for (HWND window = ::FindWindowW(L"#32770", L"Nimbrel"); window;
                 window = ::FindWindowExW(nullptr, window, L"#32770", L"Nimbrel")) {
                DWORD owner = 0;  // the child runs this test's body too: only its box counts
                ::GetWindowThreadProcessId(window, &owner);
                wchar_t text[512] = {};
                if (owner == ::GetCurrentProcessId() ||
                    !::GetDlgItemTextW(window, 0xFFFF, text, 512))
                    continue;
                box = text;
                ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            }
            ::Sleep(20);
        }
    });
    EXPECT_EXIT(ClickAButtonWhoseHandlerThrows(), ::testing::ExitedWithCode(1), "");
    over = true;
    watcher.join();
    EXPECT_EQ(box.rfind(L"Run-time error '51':", 0), 0u) << Narrow(box);
}

TEST(ReadFileBytes, ReadsEveryByteAndRaisesForMissingFiles) {
    const std::wstring folder = Scratch(L"read");
    const std::string bytes("a\0b\r\nc\xe4", 7);
    Write(folder + L"\\f.vdf", bytes);
    EXPECT_EQ(Runtime().ReadFileBytes(folder + L"\\f.vdf"), bytes);
    EXPECT_EQ(ErrorNumber([&] { Runtime().ReadFileBytes(folder + L"\\none.vdf"); }), 53);
    EXPECT_EQ(ErrorNumber([&] { Runtime().ReadFileBytes(folder); }), 75);
}

TEST(Dir, FindsOrdinaryFilesOnlyAndResolvesRelativeNamesInTheWorkingDirectory) {
    const std::wstring folder = Scratch(L"dir");
    Write(folder + L"\\steam.exe", "x");
    Write(folder + L"\\hidden.vdf", "x");
    ::SetFileAttributesW((folder + L"\\hidden.vdf").c_str(), FILE_ATTRIBUTE_HIDDEN);
    Write(folder + L"\\readonly.vdf", "x");
    ::SetFileAttributesW((folder + L"\\readonly.vdf").c_str(), FILE_ATTRIBUTE_READONLY);
    ::CreateDirectoryW((folder + L"\\config").c_str(), nullptr);
    wchar_t previous[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ::SetCurrentDirectoryW(folder.c_str());
    EXPECT_EQ(Runtime().Dir(L"steam.exe"), L"steam.exe");
    ::SetCurrentDirectoryW((folder + L"\\config").c_str());
    EXPECT_EQ(Runtime().Dir(L"steam.exe"), L"");
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(Runtime().Dir(folder + L"\\STEAM.EXE"), L"steam.exe");
    EXPECT_EQ(Runtime().Dir(folder + L"\\hidden.vdf"), L"");
    EXPECT_EQ(Runtime().Dir(folder + L"\\readonly.vdf"), L"readonly.vdf");
    EXPECT_EQ(Runtime().Dir(folder + L"\\config"), L"");
    EXPECT_EQ(Runtime().Dir(folder + L"\\none"), L"");
}

TEST(AppFacts, PathExeNameArgumentsAndPreviousInstance) {
    const std::wstring module = platform::ModulePath();
    EXPECT_EQ(Runtime().AppPath(), module.substr(0, module.rfind(L'\\')));
    EXPECT_EQ(Runtime().AppExeName(), L"nimbrel_win32_tests");
    EXPECT_EQ(Runtime().AppTitle(), L"Nimbrel");

    struct Case {
        const wchar_t* line;
        const wchar_t* arguments;
    };
    for (const Case c : {Case{L"\"C:\\A B\\n.exe\" -x  y", L"-x  y"}, Case{L"n.exe", L""},
                         Case{L"n.exe  -x", L" -x"}, Case{L"\"C:\\n.exe\"-x", L""},
                         Case{L"\"C:\\n.exe\"", L""}, Case{L"C:\\n.exe\t-x", L"-x"}}) {
        EXPECT_EQ(platform::ArgumentsOf(c.line), c.arguments);
    }
    // The name marks one program file, whatever the case of its path.
    EXPECT_EQ(platform::InstanceMutexName(L"C:\\Steam\\Nimbrel.exe"),
              platform::InstanceMutexName(L"c:\\steam\\NIMBREL.EXE"));
    EXPECT_NE(platform::InstanceMutexName(L"C:\\Steam\\Nimbrel.exe"),
              platform::InstanceMutexName(L"D:\\Steam\\Nimbrel.exe"));
    Runtime();  // the first runtime of this program file holds the mark
    Win32Runtime second(::GetModuleHandleW(nullptr));
    EXPECT_FALSE(Runtime().AppPrevInstance());
    EXPECT_TRUE(second.AppPrevInstance());
}

TEST(AppFacts, OneProgramFileIsOneCopyHoweverItsPathIsSpelled) {
    const std::wstring module = platform::ModulePath();
    const std::wstring identity = platform::ProgramFileIdentity(module);
    wchar_t shortPath[MAX_PATH];
    const DWORD shortLength = ::GetShortPathNameW(module.c_str(), shortPath, MAX_PATH);
    ASSERT_GT(shortLength, 0u);
    const std::wstring folder = module.substr(0, module.rfind(L'\\'));
    const std::wstring name = module.substr(module.rfind(L'\\'));
    for (const std::wstring& spelling : {std::wstring(shortPath, shortLength),
                                         folder + L"\\.\\" + name, Runtime().UCase(module)}) {
        SCOPED_TRACE(Narrow(spelling));
        EXPECT_EQ(platform::ProgramFileIdentity(spelling), identity);
    }
    // A copy is another program file, even beside the original and byte for byte the same.
    const std::wstring copy = Scratch(L"identity") + L"\\copy.exe";
    ASSERT_TRUE(::CopyFileW(module.c_str(), copy.c_str(), FALSE));
    EXPECT_NE(platform::ProgramFileIdentity(copy), identity);
}

TEST(AppFacts, AFirstCopyWhoseMarkThisCopyMayNotOpenStillCountsAsAnotherCopy) {
    // An elevated first copy's mutex, as a copy without elevation meets it: its security lets
    // nobody in (an empty access list).
    ACL emptyAcl;
    ASSERT_TRUE(::InitializeAcl(&emptyAcl, sizeof emptyAcl, ACL_REVISION));
    SECURITY_DESCRIPTOR descriptor;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor, TRUE, &emptyAcl, FALSE);
    SECURITY_ATTRIBUTES security{sizeof security, &descriptor, FALSE};
    const std::wstring name = L"Local\\Nimbrel.Test.Denied";
    UniqueProcess first(::CreateMutexW(&security, FALSE, name.c_str()));
    ASSERT_TRUE(first);
    UniqueProcess mark;
    EXPECT_TRUE(platform::ClaimInstance(name, mark));
    EXPECT_FALSE(mark) << "the mutex really was denied, as it is to a copy without elevation";

    UniqueProcess fresh, again;
    EXPECT_FALSE(platform::ClaimInstance(L"Local\\Nimbrel.Test.Fresh", fresh));
    EXPECT_TRUE(platform::ClaimInstance(L"Local\\Nimbrel.Test.Fresh", again));
}

TEST(Processes, FindProcessSeesRealProcessesAndKillProcessEndsThemWithExitCodeOne) {
    EXPECT_EQ(Prozess::FindProcess(Runtime(), L"NIMBREL_WIN32_TESTS.EXE"),
              static_cast<std::int32_t>(::GetCurrentProcessId()));
    EXPECT_EQ(Prozess::FindProcess(Runtime(), L"C:\\nowhere\\nimbrel_win32_tests.exe"),
              static_cast<std::int32_t>(::GetCurrentProcessId()));
    EXPECT_EQ(Prozess::FindProcess(Runtime(), L"no-such-program.exe"), 0);

    const std::wstring folder = Scratch(L"process");
    const std::wstring standIn = testbed::TreeFile(L"NIMBREL_FAKE_STEAM", NIMBREL_FAKE_STEAM);
    // A name of its own, so that no other program's process can answer the lookup.
    ASSERT_TRUE(::CopyFileW(standIn.c_str(), (folder + L"\\NimbrelProbe.exe").c_str(), FALSE));
    std::wstring commandLine = L"\"" + folder + L"\\NimbrelProbe.exe\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(::CreateProcessW((folder + L"\\NimbrelProbe.exe").c_str(), commandLine.data(),
                                 nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                                 &started));
    ::CloseHandle(started.hThread);
    // The system's session list holds this program and the child, each with its own session.
    const auto sessions = Runtime().ProcessSessions();
    for (const DWORD id : {::GetCurrentProcessId(), started.dwProcessId}) {
        DWORD session = ~0u;
        ASSERT_TRUE(::ProcessIdToSessionId(id, &session));
        EXPECT_THAT(sessions, ::testing::Contains(::testing::AllOf(
                                  ::testing::Field(&platform::ProcessSession::processId, id),
                                  ::testing::Field(&platform::ProcessSession::sessionId, session))))
            << "process " << id;
    }
    const std::int32_t found = Prozess::FindProcess(Runtime(), L"nimbrelprobe.exe");
    EXPECT_EQ(found, static_cast<std::int32_t>(started.dwProcessId));
    Prozess::KillProcess(Runtime(), found);
    ASSERT_EQ(::WaitForSingleObject(started.hProcess, 5000), WAIT_OBJECT_0) << "the probe to end";
    DWORD exitCode = 0;
    ::GetExitCodeProcess(started.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 1u);
    ::CloseHandle(started.hProcess);
    Prozess::KillProcess(Runtime(), found);  // gone now: nothing happens, nothing raised
    EXPECT_EQ(Prozess::FindProcess(Runtime(), L"nimbrelprobe.exe"), 0);
}

// A start's system calls, faked: CreateProcessW fails with createError (0: it starts), the
// shell's start with shellError, and what reached the shell is recorded.
DWORD createError, shellError;
int shellLoads;
std::wstring shellStarts;  // a line each: file|parameters|directory|show|mask
BOOL WINAPI FakeCreateProcess(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                              DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
    ::SetLastError(createError);
    return createError == 0;
}
BOOL WINAPI FakeShellExecuteEx(SHELLEXECUTEINFOW* info) {
    const auto text = [](const wchar_t* value) { return std::wstring(value ? value : L"null"); };
    shellStarts += text(info->lpFile) + L"|" + text(info->lpParameters) + L"|" +
                   text(info->lpDirectory) + L"|" + std::to_wstring(info->nShow) + L"|" +
                   std::to_wstring(info->fMask) + L"\n";
    ::SetLastError(shellError);
    return shellError == 0;
}
// ERROR_MOD_NOT_FOUND as the shell's error: there is no shell to be had.
decltype(&::ShellExecuteExW) LoadFakeShellExecuteEx() {
    return ++shellLoads, shellError == ERROR_MOD_NOT_FOUND ? nullptr : FakeShellExecuteEx;
}
// Puts the fakes in for one scope; the system's calls come back however the test ends.
struct FakeStartCalls {
    const platform::StartCalls system = platform::ProgramStartCalls();
    FakeStartCalls() {
        platform::ProgramStartCalls() = {FakeCreateProcess, LoadFakeShellExecuteEx};
    }
    ~FakeStartCalls() { platform::ProgramStartCalls() = system; }
};

TEST(Shell, AProgramThatNeedsElevationStartsThroughTheShellOnlyAndADeclinedPromptIsReported) {
    const std::wstring steam = L"C:\\Program Files (x86)\\Steam\\Steam.exe";
    wchar_t directory[MAX_PATH];
    ::GetCurrentDirectoryW(MAX_PATH, directory);
    const std::wstring started = steam + L"|-login me|" + directory + L"|1|1280\n";
    struct Case {
        const char* name;
        DWORD createError, shellError;
        std::wstring error, shellStarts;  // the error's number and detail; what reached the shell
    };
    const DWORD elevation = platform::kErrorElevationRequired;
    const Case cases[] = {
        {"ordinary start: no shell loaded", 0, 0, L"", L""},
        {"another failure reports as before", ERROR_FILE_NOT_FOUND, 0, L"53 " + steam, L""},
        {"needs elevation: one shell start", elevation, 0, L"", started},
        {"needs elevation, no shell", elevation, ERROR_MOD_NOT_FOUND,
         L"70 " + steam + L" needs to run as administrator.", L""},
        {"prompt declined", elevation, ERROR_CANCELLED,
         L"70 " + steam + L" was not started: the request for administrator rights was declined.",
         started},
        {"cancelled, not at the shell's start: an unlisted code", ERROR_CANCELLED, 0,
         L"57 " + steam, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeStartCalls fake;
        createError = c.createError, shellError = c.shellError, shellLoads = 0, shellStarts = L"";
        std::wstring error;
        try {
            Runtime().Shell(steam, L" -login me", platform::kNormalFocus);
        } catch (const RuntimeError& e) {
            error = std::to_wstring(e.Number()) + L" " + e.Detail();
        }
        EXPECT_EQ(Narrow(error), Narrow(c.error));
        EXPECT_EQ(Narrow(shellStarts), Narrow(c.shellStarts));
        EXPECT_EQ(shellLoads, c.createError == elevation ? 1 : 0);
    }
    EXPECT_NE(platform::ProgramStartCalls().LoadShellExecuteExW(), nullptr) << "the system's shell";
}

TEST(Windows, ActivationByTitleAndKeySending) {
    NIMBREL_SKIP_WITHOUT_FOREGROUND();
    HWND target =
        ::CreateWindowExW(0, L"EDIT", L"Nimbrel key target", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50,
                          50, 300, 100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(target, nullptr);
    HWND other =
        ::CreateWindowExW(0, L"STATIC", L"Other window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 400, 50,
                          300, 100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetForegroundWindow(other);
    Runtime().DoEvents();
    Runtime().AppActivate(L"Nimbrel key");  // a title that begins with the text counts
    WaitUntil("the key target to come to the foreground", 2000,
              [&] { return Runtime().DoEvents(), ::GetForegroundWindow() == target; });
    EXPECT_EQ(ErrorNumber([] { Runtime().AppActivate(L"No window has this title"); }), 5);

    ::SetWindowTextW(target, L"");
    ::SetFocus(target);
    Runtime().SendKeys(L"ab+c{TAB 0}x{BS}{+}");
    wchar_t text[64] = {};
    WaitUntil("the keys to arrive in the key target as abC+", 2000, [&] {
        Runtime().DoEvents();
        return ::GetWindowTextW(target, text, 64), std::wstring(text) == L"abC+";
    });
    EXPECT_STREQ(text, L"abC+");
    EXPECT_EQ(ErrorNumber([] { Runtime().SendKeys(L"{NOPE}"); }), 5);
    ::DestroyWindow(target);
    ::DestroyWindow(other);
}

TEST(Windows, AFormGoesWithTheRuntimeThatLoadedItAndNothingReachesItAfterwards) {
    NIMBREL_SKIP_WITHOUT_FOREGROUND();
    HWND form = nullptr, button = nullptr;
    {
        Win32Runtime runtime(::GetModuleHandleW(nullptr));
        const platform::ControlDesign quit{
            platform::ControlDesign::Kind::Button, L"Q", 0, 0, 900, 300, L"Quit", true};
        runtime.LoadForm({L"NimbrelLifetimeTest", L"Lifetime", 1500, 600, 0, {}, {quit}});
        runtime.ShowForm();
        form = ::FindWindowW(L"NimbrelLifetimeTest", nullptr);
        button = ::GetFocus();
        ASSERT_NE(form, nullptr);
        ASSERT_NE(button, nullptr);
        ASSERT_EQ(::GetParent(button), form);
    }
    // A quit the destroyed form posted would end this program at the next message pass, with
    // exit code 0, and pass for a success.
    MSG quit;
    EXPECT_FALSE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        << "a quit was posted";
    // Left alive, the button's procedure would run on the freed runtime at the next focus change.
    ASSERT_FALSE(::IsWindow(form));
    ASSERT_FALSE(::IsWindow(button));
    HWND other =
        ::CreateWindowExW(0, L"STATIC", L"Other window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 400, 50,
                          300, 100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetForegroundWindow(other);
    ::SetLastError(0);
    EXPECT_EQ(::SendMessageW(button, WM_KEYDOWN, VK_RETURN, 0), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    Runtime().DoEvents();
    EXPECT_EQ(::GetForegroundWindow(), other);
    ::DestroyWindow(other);
}
