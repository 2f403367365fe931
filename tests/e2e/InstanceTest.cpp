// Two copies of one program file under Wine: the second hands over to the first and ends (copies
// of two files run side by side: a row of Launch/StraightThrough).
#include "Harness.h"

using namespace e2e;

using Instance = EndToEnd;

namespace {

// The second copy ends at once, never showing its window, and leaves the file and Steam alone.
void EndsUntouched(const Launcher& second, const SteamFolder& steam, ULONGLONG before) {
    bool showed = false;  // looked for while it runs, not once it has gone
    WaitUntil("the second copy to end", 5000, [&] {
        showed = showed || second.WaitForForm(0);
        return !second.Running();
    });
    EXPECT_FALSE(showed) << "the second copy showed its window";
    EXPECT_EQ(second.WaitForExit(0), 0u);
    EXPECT_EQ(steam.ReadLoginUsers(), kOnline);
    EXPECT_EQ(LastWriteTime(steam.LoginUsers()), before);
    EXPECT_THAT(steam.SteamStarts(), IsEmpty());
}

}  // namespace

TEST_F(Instance, ASecondCopyBringsTheFirstForwardAndEndsWithoutTouchingAnything) {
    NIMBREL_STAGE(foreground, testbed::ForegroundWindow());
    SteamFolder steam(L"Steam-twice", kOnline);
    // Copy A waits at its Steam box, its window minimised.
    Launcher first(steam.Nimbrel(), L"", steam.Elsewhere());
    const auto box = first.WaitForBox();
    ASSERT_TRUE(box);
    HWND form = first.WaitForForm();
    ASSERT_NE(form, nullptr);
    ::ShowWindow(form, SW_MINIMIZE);
    ASSERT_TRUE(
        WaitUntil("A's window to minimise", 2000, [&] { return ::IsIconic(form) != FALSE; }));
    const ULONGLONG before = LastWriteTime(steam.LoginUsers());

    EndsUntouched(Launcher(steam.Nimbrel(), L"-KillSteam", steam.Path()), steam, before);
    WaitUntil("A's window to be restored", 2000, [&] { return !::IsIconic(form); });
    WaitUntil("A to be the foreground program", 2000, [&] {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(::GetForegroundWindow(), &owner);
        return owner == first.ProcessId();
    });
    EXPECT_FALSE(::GetWindowLongW(form, GWL_EXSTYLE) & WS_EX_TOPMOST) << "A was left topmost";

    // A carries on as if nothing happened.
    PressOk(box->window);
    EXPECT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
    EXPECT_EQ(first.WaitForExit(10000), 0u);
}

TEST_F(Instance, TheSameProgramFileReachedThroughASecondDriveLetterIsAnotherCopy) {
    SteamFolder steam(L"Steam-sdrive", kOnline);
    Launcher first(steam.Nimbrel(), L"", steam.Elsewhere());  // waits at its Steam box
    const auto box = first.WaitForBox();
    ASSERT_TRUE(box);
    const ULONGLONG before = LastWriteTime(steam.LoginUsers());

    // Drive S: maps to the Steam folder from now on.
    NIMBREL_STAGE(drive, testbed::DriveLink(L's', steam.Path()));
    ASSERT_TRUE(drive.Made());
    EndsUntouched(Launcher(L"S:\\Nimbrel.exe", L"", L"S:\\"), steam, before);

    PressOk(box->window);
    EXPECT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
    EXPECT_EQ(first.WaitForExit(10000), 0u);
}
