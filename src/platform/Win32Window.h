#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/FormDesign.h"

namespace platform {

// The program's windows: the visible form with its controls and timers, and the hidden
// application window that bears the application title (other copies find us by it).
class Win32Window {
public:
    Win32Window(HINSTANCE instance, const std::wstring& appTitle);
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
    static LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK AppProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK FocusButtonProc(HWND button, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT HandleForm(UINT message, WPARAM wParam, LPARAM lParam);
    void Layout(UINT dpi);
    void DrawLabel(const ControlDesign& label, HDC dc, const RECT& area) const;
    UINT CurrentDpi() const;

    HINSTANCE instance_;
    HWND app_ = nullptr;
    HWND form_ = nullptr;
    HFONT font_ = nullptr;
    FormDesign design_;
    std::vector<HWND> controls_;    // in the order of design_.controls
    HWND focusControl_ = nullptr;   // the one control that takes the keyboard focus
    WNDPROC buttonProc_ = nullptr;  // its own window procedure, under ours
};

}  // namespace platform
