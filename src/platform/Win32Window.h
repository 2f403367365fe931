#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "platform/FormDesign.h"

namespace platform {

// The program's windows: the visible form with its controls and timers, and the hidden
// application window that bears the application title (other copies find us by it). One file
// for each part: Win32Window.cpp (the windows and their procedures), Win32WindowDpi.cpp (DPI and
// layout), Win32WindowKeys.cpp (the button's keyboard).
class Win32Window {
public:
    // Takes a failure that escaped a handler of the window system's calls; does not return.
    using FailureHandler = std::function<void(const std::exception_ptr&)>;

    Win32Window(HINSTANCE instance, const std::wstring& appTitle, FailureHandler onFailure);
    ~Win32Window();
    Win32Window(const Win32Window&) = delete;
    Win32Window& operator=(const Win32Window&) = delete;

    void Load(const FormDesign& design);
    void Show();
    void SetCaption(const std::wstring& caption);
    void SetAppTitle(const std::wstring& title);
    void SetTimerEnabled(FormTimer timer, bool enabled);
    HWND Form() const noexcept { return form_; }

private:
    // Shared by the creation and the layout at each DPI, which must frame the same window.
    static constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    static constexpr DWORD kFormExStyle = WS_EX_APPWINDOW;

    static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK AppProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK FocusButtonProc(HWND button, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    // Runs a window procedure's work. Nothing may unwind into the window system (the i686
    // unwinder stops at its frames and the program would vanish without a word), so whatever
    // escapes takes the program's error path here.
    template <class Work>
    LRESULT Shielded(Work&& work) noexcept;
    LRESULT HandleForm(UINT message, WPARAM wParam, LPARAM lParam);
    void Layout(UINT dpi);
    void DrawLabel(const ControlDesign& label, HDC dc, const RECT& area) const;
    UINT CurrentDpi() const;

    HINSTANCE instance_;
    FailureHandler onFailure_;
    bool shown_ = false;
    HWND app_ = nullptr;
    HWND form_ = nullptr;
    HFONT font_ = nullptr;
    FormDesign design_;
    std::vector<HWND> controls_;    // in the order of design_.controls
    HWND focusControl_ = nullptr;   // the one control that takes the keyboard focus
    WNDPROC buttonProc_ = nullptr;  // its own window procedure, under ours
};

// Here, not in a source file: the form's procedure and the button's both run their work through it.
template <class Work>
LRESULT Win32Window::Shielded(Work&& work) noexcept {
    try {
        return work();
    } catch (...) {
        onFailure_(std::current_exception());
    }
    return 0;
}

}  // namespace platform
