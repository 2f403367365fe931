// Processes for real, under Wine: the lookup, sessions and ending a process; and a start that
// needs elevation, over faked system calls.
#include <gmock/gmock.h>

#include "Win32Fixture.h"
#include "process/Prozess.h"

TEST(Processes, FindProcessSeesRealProcessesAndKillProcessEndsThemWithExitCodeOne) {
    const auto self = static_cast<std::int32_t>(::GetCurrentProcessId());
    EXPECT_EQ(Prozess::FindProcess(Runtime(), L"NIMBREL_WIN32_TESTS.EXE"), self);
    EXPECT_EQ(Prozess::FindProcess(Runtime(), L"C:\\nowhere\\nimbrel_win32_tests.exe"), self);
    EXPECT_EQ(Prozess::FindProcess(Runtime(), L"no-such-program.exe"), 0);

    const std::wstring folder = testbed::ScratchFolder(L"process");
    const std::wstring standIn = testbed::TreeFile(L"NIMBREL_FAKE_STEAM", NIMBREL_FAKE_STEAM);
    // A name of its own, so that no other program's process can answer the lookup.
    const std::wstring probe = folder + L"\\NimbrelProbe.exe";
    ASSERT_TRUE(::CopyFileW(standIn.c_str(), probe.c_str(), FALSE));
    testbed::Process::Options options;
    options.workingDir = folder;
    const testbed::Process started(probe, L"\"" + probe + L"\"", options);
    ASSERT_TRUE(started.Started());
    // The system's session list holds this program and the child, each with its own session.
    const auto sessions = Runtime().ProcessSessions();
    for (const DWORD id : {::GetCurrentProcessId(), started.Id()}) {
        DWORD session = ~0u;
        ASSERT_TRUE(::ProcessIdToSessionId(id, &session));
        EXPECT_THAT(sessions, ::testing::Contains(::testing::AllOf(
                                  ::testing::Field(&platform::ProcessSession::processId, id),
                                  ::testing::Field(&platform::ProcessSession::sessionId, session))))
            << "process " << id;
    }
    const std::int32_t found = Prozess::FindProcess(Runtime(), L"nimbrelprobe.exe");
    EXPECT_EQ(found, static_cast<std::int32_t>(started.Id()));
    Prozess::KillProcess(Runtime(), found);
    const std::optional<DWORD> exitCode = started.WaitForExit("the probe to end", 5000);
    ASSERT_TRUE(exitCode);
    EXPECT_EQ(*exitCode, 1u);
    Prozess::KillProcess(Runtime(), found);  // gone now: nothing happens, nothing raised
    EXPECT_EQ(Prozess::FindProcess(Runtime(), L"nimbrelprobe.exe"), 0);
}

namespace {

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

}  // namespace

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
        } catch (const platform::RuntimeError& e) {
            error = std::to_wstring(e.Number()) + L" " + e.Detail();
        }
        EXPECT_EQ(testbed::Narrow(error), testbed::Narrow(c.error));
        EXPECT_EQ(testbed::Narrow(shellStarts), testbed::Narrow(c.shellStarts));
        EXPECT_EQ(shellLoads, c.createError == elevation ? 1 : 0);
    }
    EXPECT_NE(platform::ProgramStartCalls().LoadShellExecuteExW(), nullptr) << "the system's shell";
}
