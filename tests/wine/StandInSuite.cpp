// A stand-in test program with the suites' own main: what the Windows job's script must never
// count as passed, chosen by GTEST_FILTER.
#include <windows.h>

#include <gtest/gtest.h>

// Ends as an access violation ends a program: ExitProcess, so that no debugger is called.
TEST(StandIn, CrashesAsAnAccessViolationWould) { ::ExitProcess(0xC0000005); }

TEST(StandIn, Skips) { GTEST_SKIP() << "a stand-in's skip"; }
