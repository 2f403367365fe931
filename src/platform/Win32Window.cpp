// The windows themselves: creation, the procedures, labels and timers, the application window.
#include "platform/Win32Window.h"

#include "platform/Text.h"

namespace platform {
namespace {

constexpr wchar_t kAppClass[] = L"NimbrelApp";
constexpr int kFirstControlId = 100;
constexpr UINT_PTR kFirstTimerId = 1;

// The show command of a shortcut set to "Run: Minimized" (or of any starter that asks for one),
// or 0 when the program was not asked to start minimized.
int MinimizedStartCommand() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    if (!(startup.dwFlags & STARTF_USESHOWWINDOW)) return 0;
    switch (startup.wShowWindow) {
    case SW_SHOWMINNOACTIVE:
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE: return startup.wShowWindow;
    default: return 0;
    }
}

}  // namespace

Win32Window::Win32Window(HINSTANCE instance, const std::wstring& appTitle, FailureHandler onFailure)
    : instance_(instance), onFailure_(std::move(onFailure)) {
    WNDCLASSEXW appClass{};
    appClass.cbSize = sizeof appClass;
    appClass.lpfnWndProc = AppProc;
    appClass.hInstance = instance;
    appClass.lpszClassName = kAppClass;
    ::RegisterClassExW(&appClass);
    app_ = ::CreateWindowExW(0, kAppClass, appTitle.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                             instance, this);
}

Win32Window::~Win32Window() {
    // The windows go with the object that serves them: a window left behind would run its
    // procedures, and the button's, on this object after it is freed. Unhooked first, so their
    // last messages reach the system's procedures only (and post no quit).
    if (buttonProc_)
        ::SetWindowLongPtrW(focusControl_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(buttonProc_));
    for (HWND window : {form_, app_}) {
        if (!window) continue;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        ::DestroyWindow(window);
    }
    if (font_) ::DeleteObject(font_);
}

void Win32Window::Load(const FormDesign& design) {
    design_ = design;
    WNDCLASSEXW formClass{};
    formClass.cbSize = sizeof formClass;
    formClass.lpfnWndProc = FormProc;
    formClass.hInstance = instance_;
    formClass.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    formClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    formClass.lpszClassName = design_.className.c_str();
    formClass.hIcon = ::LoadIconW(instance_, MAKEINTRESOURCEW(design_.iconResourceId));
    formClass.hIconSm = static_cast<HICON>(
        ::LoadImageW(instance_, MAKEINTRESOURCEW(design_.iconResourceId), IMAGE_ICON,
                     ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    ::RegisterClassExW(&formClass);

    // Owned by the application window, so activating that window can bring this one forward.
    form_ = ::CreateWindowExW(kFormExStyle, design_.className.c_str(), design_.caption.c_str(),
                              kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, app_, nullptr,
                              instance_, this);
    for (std::size_t i = 0; i < design_.controls.size(); ++i) {
        const ControlDesign& control = design_.controls[i];
        const bool button = control.kind == ControlDesign::Kind::Button;
        DWORD style = WS_CHILD | WS_VISIBLE;
        if (button) style |= BS_PUSHBUTTON | (control.takesFocus ? WS_TABSTOP : 0);
        // Labels draw their own text: the wrapping must drop the blanks where a line breaks,
        // on every version of the system alike.
        else
            style |= SS_OWNERDRAW | (control.onClick ? SS_NOTIFY : 0);
        controls_.push_back(::CreateWindowExW(
            0, button ? L"BUTTON" : L"STATIC", control.text.c_str(), style, 0, 0, 0, 0, form_,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + i)), instance_,
            nullptr));
        if (control.takesFocus && !focusControl_) focusControl_ = controls_.back();
    }
    // Outside a dialog a button answers Space only; Enter presses it too, as in the classic
    // forms runtime.
    if (focusControl_)
        buttonProc_ = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
            focusControl_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FocusButtonProc)));
    Layout(CurrentDpi());
}

void Win32Window::Show() {
    // Windows applies the starter's show command only to an unowned first window, and this form
    // is owned by the application window: a shortcut's "Run: Minimized" is applied here, once.
    const int minimized = shown_ ? 0 : MinimizedStartCommand();
    shown_ = true;
    ::ShowWindow(form_, minimized ? minimized : SW_SHOW);
    ::UpdateWindow(form_);
    // Setting the focus would activate the form; a minimized one gets it when it is restored.
    if (focusControl_ && !::IsIconic(form_)) ::SetFocus(focusControl_);
}

void Win32Window::SetCaption(const std::wstring& caption) {
    ::SetWindowTextW(form_, caption.c_str());
}

void Win32Window::SetAppTitle(const std::wstring& title) { ::SetWindowTextW(app_, title.c_str()); }

void Win32Window::SetTimerEnabled(FormTimer timer, bool enabled) {
    for (std::size_t i = 0; i < design_.timers.size(); ++i) {
        if (design_.timers[i].id != timer) continue;
        const UINT_PTR id = kFirstTimerId + i;
        if (enabled)
            ::SetTimer(form_, id, design_.timers[i].intervalMs, nullptr);
        else
            ::KillTimer(form_, id);
    }
}

LRESULT CALLBACK Win32Window::FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && self->form_ == window)
        return self->Shielded([&] { return self->HandleForm(message, wParam, lParam); });
    return ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT Win32Window::HandleForm(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND: {
        const int index = LOWORD(wParam) - kFirstControlId;
        // BN_CLICKED and STN_CLICKED share the code 0.
        if (HIWORD(wParam) == BN_CLICKED && index >= 0 &&
            index < static_cast<int>(design_.controls.size()) && design_.controls[index].onClick) {
            design_.controls[index].onClick();
        }
        return 0;
    }
    case WM_TIMER: {
        const auto index = static_cast<std::size_t>(wParam - kFirstTimerId);
        if (index < design_.timers.size()) design_.timers[index].onTimer();
        return 0;
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        const int index = static_cast<int>(item->CtlID) - kFirstControlId;
        if (index < 0 || index >= static_cast<int>(design_.controls.size())) return FALSE;
        DrawLabel(design_.controls[index], item->hDC, item->rcItem);
        return TRUE;
    }
    case WM_DPICHANGED: {
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(form_, nullptr, suggested->left, suggested->top, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        Layout(HIWORD(wParam));
        return 0;
    }
    case WM_SETFOCUS:
        // Activation (after a box, Alt-Tab, a hand-over) gives the focus to the form itself;
        // the one control that can hold it takes it over, so the keyboard keeps working.
        if (focusControl_) ::SetFocus(focusControl_);
        return 0;
    case WM_DESTROY: ::PostQuitMessage(0); return 0;
    default: return ::DefWindowProcW(form_, message, wParam, lParam);
    }
}

void Win32Window::DrawLabel(const ControlDesign& label, HDC dc, const RECT& area) const {
    ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_BTNFACE));
    const HGDIOBJ oldFont = ::SelectObject(dc, font_);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, label.hasForeColor ? label.foreColorRgb : ::GetSysColor(COLOR_BTNTEXT));
    TEXTMETRICW metrics;
    ::GetTextMetricsW(dc, &metrics);
    const auto measure = [dc](std::wstring_view piece) {
        SIZE size{};
        ::GetTextExtentPoint32W(dc, piece.data(), static_cast<int>(piece.size()), &size);
        return static_cast<int>(size.cx);
    };
    int top = area.top;
    for (const std::wstring& line : WrapWords(label.text, area.right - area.left, measure)) {
        RECT lineArea{area.left, top, area.right, top + metrics.tmHeight};
        ::DrawTextW(dc, line.c_str(), static_cast<int>(line.size()), &lineArea,
                    DT_LEFT | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
        top += metrics.tmHeight;
    }
    ::SelectObject(dc, oldFont);
}

// Only system calls: nothing here can throw.
LRESULT CALLBACK Win32Window::AppProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    // Activating the application window (another copy handing over does) brings the form forward.
    if (message == WM_ACTIVATE && LOWORD(wParam) != WA_INACTIVE && self && self->form_ &&
        ::IsWindowVisible(self->form_)) {
        if (::IsIconic(self->form_)) ::ShowWindow(self->form_, SW_RESTORE);
        ::SetForegroundWindow(self->form_);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace platform
