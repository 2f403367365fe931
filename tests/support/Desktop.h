#pragma once

// Whether this program's windows show to anybody, and holding the foreground for a case.
#include <windows.h>

#include <string>

#include "Staging.h"

namespace testbed {

// An interactive desktop. A job run as a service (session 0) has a window station that takes no
// input: its windows would show to nobody.
class Desktop {
public:
    Desktop() {
        USEROBJECTFLAGS flags{};
        if (::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags,
                                        sizeof flags, nullptr) &&
            !(flags.dwFlags & WSF_VISIBLE)) {
            DWORD session = 0;
            ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
            why_ = "no interactive desktop: the window station of session " +
                   std::to_string(session) +
                   " is not visible, so windows show to nobody and take no input";
        }
    }
    const std::string& WhyNot() const { return why_; }

private:
    std::string why_;
};

// A window of this program, brought to the foreground for the case that makes it and kept there
// until that case ends: while the foreground is this program's, the programs it starts may take
// it too. Where the foreground lock refuses, it tries once more after an empty mouse event, since
// the program that sent the last input may take the foreground. Made afresh by each case that
// needs it: another program's input takes the foreground right away again.
class ForegroundWindow {
public:
    ForegroundWindow() : why_(Desktop().WhyNot()) {
        if (!why_.empty()) return;
        window_ = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"Nimbrel foreground probe",
                                    WS_POPUP | WS_VISIBLE, 0, 0, 40, 40, nullptr, nullptr,
                                    ::GetModuleHandleW(nullptr), nullptr);
        if (!window_) {
            why_ = "no window can be made here: error " + std::to_string(::GetLastError());
            return;
        }
        const auto forward = [&] {  // up to a second: no failure of its own when it runs out
            ::SetForegroundWindow(window_);
            for (int tries = 0; tries < 100 && ::GetForegroundWindow() != window_; ++tries)
                ::Sleep(10);
            return ::GetForegroundWindow() == window_;
        };
        if (forward()) return;
        INPUT nothing{};
        nothing.type = INPUT_MOUSE;
        nothing.mi.dwFlags = MOUSEEVENTF_MOVE;
        ::SendInput(1, &nothing, sizeof nothing);
        if (forward()) return;
        HWND holder = ::GetForegroundWindow();
        why_ = "no window of this program can take the foreground here: it stays with " +
               (holder ? "\"" + Narrow(TextOf(holder)) + "\"" : std::string("no window"));
    }
    ~ForegroundWindow() {
        if (window_) ::DestroyWindow(window_);
    }
    ForegroundWindow(const ForegroundWindow&) = delete;
    ForegroundWindow& operator=(const ForegroundWindow&) = delete;
    const std::string& WhyNot() const { return why_; }

private:
    std::string why_;
    HWND window_ = nullptr;
};

}  // namespace testbed
