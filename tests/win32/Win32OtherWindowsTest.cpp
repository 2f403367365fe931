// Other programs' windows for real, under Wine: activating one by its title, typing keys into it.
#include <gtest/gtest.h>

#include "Desktop.h"
#include "Win32Fixture.h"

TEST(Windows, ActivationByTitleAndKeySending) {
    NIMBREL_STAGE(foreground, testbed::ForegroundWindow());
    HWND target = TopWindow(L"EDIT", L"Nimbrel key target", 50);
    ASSERT_NE(target, nullptr);
    HWND other = TopWindow(L"STATIC", L"Other window", 400);
    ::SetForegroundWindow(other);
    Runtime().DoEvents();
    Runtime().AppActivate(L"Nimbrel key");  // a title that begins with the text counts
    testbed::WaitUntil("the key target to come to the foreground", 2000,
                       [&] { return Runtime().DoEvents(), ::GetForegroundWindow() == target; });
    EXPECT_EQ(ErrorNumber([] { Runtime().AppActivate(L"No window has this title"); }), 5);

    ::SetWindowTextW(target, L"");
    ::SetFocus(target);
    Runtime().SendKeys(L"ab+c{TAB 0}x{BS}{+}");
    testbed::WaitUntil("the keys to arrive in the key target as abC+", 2000,
                       [&] { return Runtime().DoEvents(), testbed::TextOf(target) == L"abC+"; });
    EXPECT_EQ(testbed::TextOf(target), L"abC+");
    EXPECT_EQ(ErrorNumber([] { Runtime().SendKeys(L"{NOPE}"); }), 5);
    ::DestroyWindow(target);
    ::DestroyWindow(other);
}
