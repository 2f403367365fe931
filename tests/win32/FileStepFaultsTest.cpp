// The file step's fault table: Form1's start-up over the real file step, with the step's system
// calls failing one at a time (which call, how), or another program saving the file just before
// one of them; and a clock of the test's own, so that waiting out a hold costs no real time.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstdio>
#include <tuple>
#include <type_traits>
#include <utility>

#include "Win32Fixture.h"
#include "app/Form1.h"

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

// A way for a call to fail: what it is, the error the call gives (0: none, a read that ends
// early), the run-time error that reports it where nothing waits it out, and whether the call
// keeps failing once it failed.
struct Fault {
    const char* name;
    DWORD error;
    int number;
    bool forGood = false;
};
const Fault kFaults[] = {{"held a moment", ERROR_SHARING_VIOLATION, 70},
                         {"held for good", ERROR_SHARING_VIOLATION, 70, true},
                         {"denied", ERROR_ACCESS_DENIED, 75},
                         {"disk full", ERROR_DISK_FULL, 61},
                         {"device error", ERROR_IO_DEVICE, 57},
                         {"gone", ERROR_FILE_NOT_FOUND, 53},
                         {"delete pending", ERROR_DELETE_PENDING, 70},
                         {"name too long", ERROR_FILENAME_EXCED_RANGE, 76},
                         {"quota used up", platform::kErrorDiskQuotaExceeded, 61},
                         {"cancelled", ERROR_CANCELLED, 57},
                         {"short read: the file shrank under it", 0, 0}};
enum class Save { None, SameTick, ByRename, NeedsNoChange, KeepsSaving };
const char* const kSaves[] = {"", "in place, within the clock's tick", "by rename",
                              "with the flags set already", "again before every call"};
struct Injection {
    int failAt = -1;
    const Fault* fault = nullptr;
    int saveAt = -1;
    Save save = Save::None;
    std::wstring file = {};
    std::vector<std::string> calls = {};
    std::string heldForGood = {};  // the call that keeps failing once it failed
    bool scannerHeldCopy = false;  // the first delete of the copy is refused, as a scanner does
    int saves = 0;
    std::string lastSaved = {};
    ULONGLONG clock = 1000;
} injection;
const platform::FileCalls kSystem = platform::FileStepCalls();

// The lines of loginusers.vdf the step reads: a save's time stamp, and the account's two flags.
std::string Sample(const std::string& stamp, const char* flag) {
    return "\"Timestamp\"\t\t\"" + stamp + "\"\r\n\"WantsOfflineMode\"\t\t\"" + flag +
           "\"\r\n\"SkipOfflineModeWarning\"\t\t\"" + flag + "\"\r\n";
}
// The file before the start-up, and as the start-up leaves it: both flags set, nothing else.
const std::string kBefore = Sample("1735587881", "0"), kOffline = Sample("1735587881", "1");

// Another program's save: the same size, a new time stamp, the account's flags as they were.
std::string Stamped(int stamp, const char* flag) {
    return Sample("17355879" + std::to_string(10 + stamp), flag);
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
        if (in.fault->forGood) in.heldForGood = call;
        return in.fault->error;
    }
    return in.heldForGood == call ? ERROR_SHARING_VIOLATION : 0;
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
        if constexpr (std::is_same_v<std::tuple_element_t<0, std::tuple<A...>>, LPCWSTR>) {
            const std::filesystem::path path = std::get<0>(std::tuple<A...>(args...));
            call += " " + testbed::Narrow(path.filename().wstring());
        }
        const bool shortRead = static_cast<int>(injection.calls.size()) == injection.failAt &&
                               injection.fault->error == 0;
        if (const DWORD error = Before(call)) {
            ::SetLastError(error);
            if constexpr (std::is_same_v<R, HANDLE>)
                return INVALID_HANDLE_VALUE;
            else if constexpr (std::is_same_v<R, DWORD>)
                return INVALID_FILE_ATTRIBUTES;
            else
                return FALSE;
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

template <auto entry, class Function>
void Install(Function& slot, const char* name) {
    FakeCall<entry>::name = name;
    slot = &FakeCall<entry>::Call;
}

// Puts the fakes in the file step's table for as long as it lives, so that a failing test
// cannot leave them there for the next.
struct FakeFileCalls {
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
};

// Form1's start-up over the real file step, with what the user would see recorded: the boxes
// and the Steam starts. Quit unwinds to the test.
struct RecordingRuntime : platform::Win32Runtime {
    struct Ended {};
    explicit RecordingRuntime(std::wstring folder)
        : platform::Win32Runtime(::GetModuleHandleW(nullptr)), steam(std::move(folder)) {}
    std::wstring AppPath() override { return steam; }
    bool AppPrevInstance() override { return false; }
    std::wstring CommandText() override { return L""; }
    void MsgBox(const std::wstring& text, int, const std::wstring&) override {
        boxes.push_back(testbed::Narrow(text));
    }
    void ShowErrorBox(const platform::RuntimeError& error) override {
        boxes.push_back(testbed::Narrow(platform::ErrorBoxText(error)));
    }
    void Shell(const std::wstring&, const std::wstring&, int) override { ++steamStarts; }
    void SetTimerEnabled(platform::FormTimer, bool) override {}
    [[noreturn]] void Quit(int) override { throw Ended{}; }

    const std::wstring steam;
    std::vector<std::string> boxes;
    int steamStarts = 0;
};

}  // namespace

TEST(FileStep, EveryFileCallFailingInTurnOrAnotherSaveBeforeItKeepsEveryonesTextAndSaysWhy) {
    const std::wstring steam = testbed::ScratchFolder(L"faults");
    const std::wstring config = steam + L"\\config", file = config + L"\\loginusers.vdf";
    ::CreateDirectoryW(config.c_str(), nullptr);
    testbed::WriteBytes(steam + L"\\steam.exe", "x");
    const testbed::ScopedWorkingDirectory inSteam(steam);
    RecordingRuntime runtime(steam);
    app::Form1 form(runtime);
    runtime.LoadForm(form.Design());
    FakeFileCalls fakes;
    int cases = -1;  // the first run only finds the calls
    const auto run = [&](Injection how) {
        testbed::WriteBytes(file, kBefore);
        injection = std::move(how);
        injection.file = file;
        runtime.boxes.clear();
        runtime.steamStarts = 0;
        ++cases;
        try {
            form.Guard([&] { form.Form_Load(); });
        } catch (const RecordingRuntime::Ended&) {}
    };
    run({});
    const std::vector<std::string> calls = injection.calls;
    ASSERT_EQ(testbed::ReadBytes(file), kOffline);
    const auto indexOf = [&](const char* call, int from = 0) {
        return static_cast<int>(std::find(calls.begin() + from, calls.end(), call) - calls.begin());
    };
    const int read = indexOf("CreateFileW loginusers.vdf");
    const int check = indexOf("CreateFileW loginusers.vdf", read + 1);
    const int readEnd = indexOf("GetFileAttributesW loginusers.vdf");
    const int rename = static_cast<int>(calls.size()) - 1;
    ASSERT_LT(check, rename);
    ASSERT_EQ(calls[rename], "MoveFileExW loginusers.vdf.nimbrel-tmp");

    // What the user sees, and what the file holds, after one row.
    const auto expect = [&](const std::string& file_text, int errorNumber) {
        EXPECT_THAT(FilesIn(config), ::testing::ElementsAre(L"loginusers.vdf"));
        EXPECT_EQ(testbed::ReadBytes(file), file_text);
        EXPECT_EQ(runtime.steamStarts > 0, errorNumber == 0);
        if (errorNumber == 0) {
            EXPECT_THAT(runtime.boxes, ::testing::IsEmpty());
            return;
        }
        ASSERT_THAT(runtime.boxes, ::testing::SizeIs(1));
        const std::string& box = runtime.boxes[0];
        EXPECT_THAT(box, StartsWith("Run-time error '" + std::to_string(errorNumber) + "':"));
        EXPECT_THAT(box, HasSubstr("\r\n\r\n" + testbed::Narrow(file)));
        EXPECT_THAT(box, Not(HasSubstr("nimbrel-tmp")));
    };
    for (int at = 0; at < static_cast<int>(calls.size()); ++at) {
        const std::string& call = calls[at];
        for (const Fault& fault : kFaults) {
            if (fault.error == 0 && call != "ReadFile") continue;  // only a read ends early
            SCOPED_TRACE(call + " #" + std::to_string(at) + " fails, " + fault.name);
            run({at, &fault});
            // What passes by waiting, or by reading again, never fails the run: a moment's hold
            // at an open, a read or the rename; a denied first read or rename; at the check, a file
            // gone or denied for a moment while another program swaps in its save, and the same
            // at the attributes read before the copy. The copy's attributes are a nicety, never
            // worth failing the run for.
            const DWORD error = fault.error;
            const bool aMoment = (error == ERROR_SHARING_VIOLATION && !fault.forGood) ||
                                 error == ERROR_DELETE_PENDING;
            const bool waitedOut =
                error == 0 || call == "SetFileAttributesW loginusers.vdf.nimbrel-tmp" ||
                (aMoment &&
                 (call.rfind("CreateFileW", 0) == 0 || call == "ReadFile" || at == rename)) ||
                (error == ERROR_ACCESS_DENIED && (at == read || at == check || at == rename)) ||
                (error == ERROR_FILE_NOT_FOUND && at == check) ||
                (at == readEnd &&
                 (aMoment || error == ERROR_ACCESS_DENIED || error == ERROR_FILE_NOT_FOUND));
            expect(waitedOut ? kOffline : kBefore, waitedOut ? 0 : fault.number);
        }
        for (const Save save :
             {Save::SameTick, Save::ByRename, Save::NeedsNoChange, Save::KeepsSaving}) {
            // A save by rename after the check opened the original, or any save after the
            // check read it, is the moment no rename-based replace can exclude.
            // A rename over the original waits while Nimbrel holds it open, as on Windows.
            const bool inPlace = save == Save::SameTick || save == Save::NeedsNoChange;
            const bool held = (at > read && at < readEnd) || at > check;
            if (inPlace ? at >= rename : held) continue;
            SCOPED_TRACE("another program saves " + std::string(kSaves[static_cast<int>(save)]) +
                         " before " + call + " #" + std::to_string(at));
            run({-1, nullptr, at, save});  // no call fails
            if (save == Save::KeepsSaving) {
                expect(injection.lastSaved, 70);  // as the other program left it
            } else {
                expect(Stamped(1, "1"), 0);         // its save, the flags set if it had them clear
                if (save == Save::NeedsNoChange) {  // unwritten
                    EXPECT_THAT(injection.calls, Not(Contains(StartsWith("MoveFileExW"))));
                }
            }
        }
    }
    std::printf("file step: %d calls, %d cases\n", static_cast<int>(calls.size()), cases);
}
