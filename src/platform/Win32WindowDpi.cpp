// DPI: the newer DPI functions looked up at run time, the message font, the form's layout.
// The DPI functions of newer Windows versions are declared only for them; they are wanted here
// for their types alone, each being looked up at run time.
#define WINVER 0x0A00
#include "platform/Win32Window.h"

namespace platform {
namespace {

constexpr UINT kDefaultDpi = 96;
constexpr int kTwipsPerInch = 1440;

// Functions of newer Windows versions, looked up once so the program still runs where they
// are missing (it then behaves as if at the system DPI). Each takes the type the system's
// headers declare, so a wrong calling convention cannot compile.
template <class Function>
Function UserFunction(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}
using GetDpiForWindowFn = decltype(&::GetDpiForWindow);
using AdjustWindowRectExForDpiFn = decltype(&::AdjustWindowRectExForDpi);
using SystemParametersInfoForDpiFn = decltype(&::SystemParametersInfoForDpi);

int ToPixels(int twips, UINT dpi) { return ::MulDiv(twips, static_cast<int>(dpi), kTwipsPerInch); }

UINT SystemDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kDefaultDpi;
}

// The system's message font at the given DPI.
HFONT CreateMessageFont(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    static const auto forDpi =
        UserFunction<SystemParametersInfoForDpiFn>("SystemParametersInfoForDpi");
    if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
        return ::CreateFontIndirectW(&metrics.lfMessageFont);
    }
    ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    metrics.lfMessageFont.lfHeight = ::MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi),
                                              static_cast<int>(SystemDpi()));
    return ::CreateFontIndirectW(&metrics.lfMessageFont);
}

}  // namespace

UINT Win32Window::CurrentDpi() const {
    static const auto forWindow = UserFunction<GetDpiForWindowFn>("GetDpiForWindow");
    if (forWindow && form_) {
        const UINT dpi = forWindow(form_);
        if (dpi != 0) return dpi;
    }
    return SystemDpi();
}

void Win32Window::Layout(UINT dpi) {
    HFONT font = CreateMessageFont(dpi);
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        const ControlDesign& control = design_.controls[i];
        ::SendMessageW(controls_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        ::MoveWindow(controls_[i], ToPixels(control.left, dpi), ToPixels(control.top, dpi),
                     ToPixels(control.width, dpi), ToPixels(control.height, dpi), TRUE);
    }
    if (font_) ::DeleteObject(font_);
    font_ = font;

    RECT frame{0, 0, ToPixels(design_.clientWidth, dpi), ToPixels(design_.clientHeight, dpi)};
    static const auto adjustForDpi =
        UserFunction<AdjustWindowRectExForDpiFn>("AdjustWindowRectExForDpi");
    if (!adjustForDpi || !adjustForDpi(&frame, kFormStyle, FALSE, kFormExStyle, dpi))
        ::AdjustWindowRectEx(&frame, kFormStyle, FALSE, kFormExStyle);
    ::SetWindowPos(form_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace platform
