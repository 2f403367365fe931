// A stand-in test program with the suites' own main: what the Windows job's script must never
// count as passed, chosen by NIMBREL_STANDIN_CASES.
#include <windows.h>

#include <gtest/gtest.h>

// Ends as an access violation ends a program: ExitProcess, so that no debugger is called.
TEST(StandIn, CrashesAsAnAccessViolationWould) { ::ExitProcess(0xC0000005); }

TEST(StandIn, Skips) { GTEST_SKIP() << "a stand-in's skip"; }

// Ends with 0 before the last line, as a program whose code reached exit() would.
TEST(StandIn, EndsWithZeroMidRun) { ::ExitProcess(0); }
