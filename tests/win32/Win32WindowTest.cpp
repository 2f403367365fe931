// This application's own window for real, under Wine: what escapes a handler, and what is left
// of a form once its runtime is gone.
#include <gmock/gmock.h>

#include <cstdio>
#include <stdexcept>
#include <thread>

#include "Desktop.h"
#include "Win32Fixture.h"

namespace {

// What a fault in a handler looks like: a button whose handler throws past every guard. A thread
// of this process, started first, writes what the box that should follow says to the standard
// error, and closes it; within 20 s the process ends, whatever happened (a form that never
// loads too).
void ClickAButtonWhoseHandlerThrows() {
    std::thread([] {
        HWND closed = nullptr;
        for (int waited = 0; waited < 20000; waited += 20, ::Sleep(20))
            for (const testbed::Box& box : testbed::BoxesOf(::GetCurrentProcessId()))
                if (box.window != closed && box.title == L"Nimbrel" && !box.text.empty()) {
                    std::fprintf(stderr, "the box says: %s\n", testbed::Narrow(box.text).c_str());
                    testbed::PressOk(closed = box.window);
                }
        std::fputs("waited 20000 ms for the error box to show, be closed and end the run\n",
                   stderr);
        ::ExitProcess(2);
    }).detach();
    platform::Win32Runtime runtime(::GetModuleHandleW(nullptr));
    platform::ControlDesign button{
        platform::ControlDesign::Kind::Button, L"B", 0, 0, 900, 300, L"Throw"};
    button.onClick = [] { throw std::logic_error("a fault"); };
    runtime.LoadForm({L"NimbrelThrowTest", L"Throw", 1500, 600, 0, {}, {button}});
    if (!testbed::ClickButton(::FindWindowW(L"NimbrelThrowTest", nullptr), L"Throw"))
        std::fputs("the form has no button Throw\n", stderr);
    runtime.DoEvents();
    ::ExitProcess(0);
}

}  // namespace

TEST(Callbacks, AFailureThatEscapesAHandlerEndsThroughTheErrorBoxNotSilently) {
    NIMBREL_STAGE(desktop, testbed::Desktop());
    // In a process of its own, as a fault in a handler would: it ends with exit code 1, through
    // the box.
    EXPECT_EXIT(ClickAButtonWhoseHandlerThrows(), ::testing::ExitedWithCode(1),
                ::testing::HasSubstr("the box says: Run-time error '51':"));
}

TEST(Windows, AFormGoesWithTheRuntimeThatLoadedItAndNothingReachesItAfterwards) {
    NIMBREL_STAGE(foreground, testbed::ForegroundWindow());
    HWND form = nullptr, button = nullptr;
    {
        platform::Win32Runtime runtime(::GetModuleHandleW(nullptr));
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
    HWND other = TopWindow(L"STATIC", L"Other window", 400);
    ::SetForegroundWindow(other);
    ::SetLastError(0);
    EXPECT_EQ(::SendMessageW(button, WM_KEYDOWN, VK_RETURN, 0), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    Runtime().DoEvents();
    EXPECT_EQ(::GetForegroundWindow(), other);
    ::DestroyWindow(other);
}
