// Two copies of one program file under Wine: the second hands over to the first and ends (copies
// of two files run side by side: a row of Launch/StraightThrough).
#include <gmock/gmock.h>

#include "Harness.h"

using namespace e2e;
using ::testing::IsEmpty;
using ::testing::SizeIs;

namespace {

class Instance : public EndToEnd {};

DWORD OwnerOf(HWND window) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    return owner;
}

}  // namespace

TEST_F(Instance, ASecondCopyBringsTheFirstForwardAndEndsWithoutTouchingAnything) {
    NIMBREL_STAGE(foreground, testbed::ForegroundWindow());
    SteamFolder steam(L"Steam-twice");
    steam.WriteLoginUsers("\"WantsOfflineMode\"\t\t\"0\"\n");
    // Copy A, started elsewhere, waits at its Steam box, its window minimised.
    Launcher first(steam.Nimbrel(), L"", steam.Path() + L"\\config");
    const auto box = first.WaitForBox();
    ASSERT_TRUE(box);
    HWND form = first.WaitForForm();
    ASSERT_NE(form, nullptr);
    ::ShowWindow(form, SW_MINIMIZE);
    ASSERT_TRUE(
        WaitUntil("A's window to minimise", 2000, [&] { return ::IsIconic(form) != FALSE; }));
    const FILETIME before = LastWriteTime(steam.LoginUsers());

    Launcher second(steam.Nimbrel(), L"-KillSteam", steam.Path());
    EXPECT_EQ(second.WaitForExit(5000), 0u);
    EXPECT_FALSE(second.WaitForForm(0)) << "the second copy never showed its window";
    EXPECT_EQ(steam.ReadLoginUsers(), "\"WantsOfflineMode\"\t\t\"0\"\n");
    EXPECT_TRUE(SameTime(before, LastWriteTime(steam.LoginUsers())));
    EXPECT_THAT(steam.SteamStarts(), IsEmpty());

    WaitUntil("A's window to be restored", 2000, [&] { return !::IsIconic(form); });
    WaitUntil("A to be the foreground program", 2000,
              [&] { return OwnerOf(::GetForegroundWindow()) == first.ProcessId(); });
    EXPECT_FALSE(::GetWindowLongW(form, GWL_EXSTYLE) & WS_EX_TOPMOST) << "A was left topmost";

    // A carries on as if nothing happened.
    PressOk(box->window);
    EXPECT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
    EXPECT_EQ(first.WaitForExit(10000), 0u);
}

TEST_F(Instance, TheSameProgramFileReachedThroughASecondDriveLetterIsAnotherCopy) {
    SteamFolder steam(L"Steam-sdrive");
    steam.WriteLoginUsers("\"WantsOfflineMode\"\t\t\"0\"\n");
    Launcher first(steam.Nimbrel(), L"", steam.Path() + L"\\config");  // waits at its Steam box
    const auto box = first.WaitForBox();
    ASSERT_TRUE(box);
    const FILETIME before = LastWriteTime(steam.LoginUsers());

    // Drive S: maps to the Steam folder from now on.
    NIMBREL_STAGE(drive, testbed::DriveLink(L's', steam.Path()));
    ASSERT_TRUE(drive.Made());
    Launcher second(L"S:\\Nimbrel.exe", L"", L"S:\\");
    EXPECT_EQ(second.WaitForExit(5000), 0u);
    EXPECT_FALSE(second.WaitForForm(0));
    EXPECT_EQ(steam.ReadLoginUsers(), "\"WantsOfflineMode\"\t\t\"0\"\n");
    EXPECT_TRUE(SameTime(before, LastWriteTime(steam.LoginUsers())));
    EXPECT_THAT(steam.SteamStarts(), IsEmpty());

    PressOk(box->window);
    EXPECT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
    EXPECT_EQ(first.WaitForExit(10000), 0u);
}
