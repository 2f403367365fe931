#include "process/Prozess.h"

#include <gmock/gmock.h>

#include "FakeRuntime.h"

using ::testing::ElementsAre;

constexpr auto kOther = FakeRuntime::kOtherSession, kUnknown = FakeRuntime::kUnknownSession;

TEST(FindProcess, ExactMatchBeatsPartialFirstExactAndLastPartialWin) {
    struct Case {
        const char* name;
        std::vector<FakeRuntime::Process> list;
        const wchar_t* search;
        std::int32_t id;
        std::uint32_t ownSession = FakeRuntime::kOwnSession;
        bool sessionListFails = false;
    };
    const Case cases[] = {
        {"ignores case", {{L"Steam.exe", 7}}, L"steam.exe", 7},
        {"capital search name", {{L"Steam.exe", 7}}, L"STEAM.EXE", 7},
        {"exact after partial", {{L"xsteam.exe", 1}, {L"steam.exe", 2}}, L"steam.exe", 2},
        {"exact before partial", {{L"steam.exe", 2}, {L"steam.exe.bak", 3}}, L"steam.exe", 2},
        {"first of two exact", {{L"steam.exe", 4}, {L"STEAM.EXE", 5}}, L"steam.exe", 4},
        {"last of several partial",
         {{L"asteam.exe", 4}, {L"bsteam.exe", 5}, {L"x", 6}},
         L"steam.exe",
         5},
        {"shorter name never matches", {{L"steam", 4}}, L"steam.exe", 0},
        {"none", {{L"explorer.exe", 4}}, L"steam.exe", 0},
        {"path cut at the last backslash", {{L"steam.exe", 8}}, L"C:\\a\\b\\steam.exe", 8},
        {"forward slashes are part of the name", {{L"steam.exe", 8}}, L"C:/Steam/steam.exe", 0},
        {"trailing backslash: last process", {{L"a.exe", 1}, {L"b.exe", 2}}, L"C:\\Steam\\", 2},
        {"empty name: last process", {{L"a.exe", 1}, {L"b.exe", 2}}, L"", 2},
        {"empty name, empty list", {}, L"", 0},
        {"other session passed over", {{L"steam.exe", 4}, {L"steam.exe", 3, kOther}}, L"steam", 4},
        {"missing from the system's list (ended since): counts",
         {{L"steam.exe", 3, kUnknown}},
         L"steam.exe",
         3},
        {"own session unknown: all count", {{L"steam.exe", 3, kOther}}, L"steam.exe", 3, kUnknown},
        {"no list: each is asked, another session's passed over",
         {{L"steam.exe", 3, kOther}, {L"steam.exe", 4}},
         L"steam.exe",
         4,
         FakeRuntime::kOwnSession,
         true},
        {"no list: one that cannot be asked counts",
         {{L"steam.exe", 3, kUnknown}},
         L"steam.exe",
         3,
         FakeRuntime::kOwnSession,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRuntime rt;
        rt.processes = c.list;
        rt.ownSession = c.ownSession;
        rt.sessionListFails = c.sessionListFails;
        EXPECT_EQ(Prozess::FindProcess(rt, c.search), c.id);
    }
}

TEST(FindProcess, WalksOneFreshSnapshotAndClosesItOnEveryExit) {
    FakeRuntime rt;
    rt.processes = {{L"a.exe", 1}, {L"steam.exe", 2}, {L"c.exe", 3}};
    EXPECT_EQ(Prozess::FindProcess(rt, L"steam.exe"), 2);
    EXPECT_THAT(rt.calls, ElementsAre("Snapshot 2 0", "GetCurrentProcessId", "ProcessSessions",
                                      "First", "Next", "CloseHandle 1792"));

    rt.calls.clear();
    EXPECT_EQ(Prozess::FindProcess(rt, L"nothing.exe"), 0);
    EXPECT_THAT(rt.calls, ElementsAre("Snapshot 2 0", "GetCurrentProcessId", "ProcessSessions",
                                      "First", "Next", "Next", "Next", "CloseHandle 1793"));
}

TEST(FindProcess, FailuresAreSuppressed) {
    FakeRuntime noSnapshot;  // nothing to close
    noSnapshot.failing = {"SnapshotInvalid"};
    EXPECT_EQ(Prozess::FindProcess(noSnapshot, L"steam.exe"), 0);
    EXPECT_THAT(noSnapshot.calls, ElementsAre("Snapshot 2 0"));

    FakeRuntime snapshotCallFails;
    snapshotCallFails.failing = {"Snapshot"};
    EXPECT_EQ(Prozess::FindProcess(snapshotCallFails, L"steam.exe"), 0);
    EXPECT_THAT(snapshotCallFails.calls, ElementsAre("Snapshot 2 0"));

    FakeRuntime firstFails;  // closed, 0
    firstFails.failing = {"First"};
    EXPECT_EQ(Prozess::FindProcess(firstFails, L"steam.exe"), 0);
    EXPECT_THAT(firstFails.calls, ElementsAre("Snapshot 2 0", "GetCurrentProcessId",
                                              "ProcessSessions", "First", "CloseHandle 1792"));

    FakeRuntime nextFails;  // the walk ends with what it has
    nextFails.processes = {{L"xsteam.exe", 9}, {L"steam.exe", 10}};
    nextFails.failing = {"Next"};
    EXPECT_EQ(Prozess::FindProcess(nextFails, L"steam.exe"), 9);
    EXPECT_THAT(nextFails.calls,
                ElementsAre("Snapshot 2 0", "GetCurrentProcessId", "ProcessSessions", "First",
                            "Next", "CloseHandle 1792"));
}

TEST(KillProcess, OpensTerminatesWithExitCodeOneWaitsAndClosesLeavingTheIdAlone) {
    FakeRuntime rt;
    rt.processes = {{L"Steam.exe", 42}};
    // A const id: a KillProcess that could change its caller's id would not build here.
    const std::int32_t id = 42;
    Prozess::KillProcess(rt, id);
    EXPECT_THAT(rt.calls, ElementsAre("OpenProcess 1048577 0 42", "TerminateProcess 65578 1",
                                      "WaitForSingleObject 65578 1000", "CloseHandle 65578"));
    EXPECT_TRUE(rt.processes.empty());

    rt.calls.clear();  // a process that is gone: the same three calls, with no handle, no wait
    Prozess::KillProcess(rt, id);
    EXPECT_THAT(rt.calls,
                ElementsAre("OpenProcess 1048577 0 42", "TerminateProcess 0 1", "CloseHandle 0"));
}
