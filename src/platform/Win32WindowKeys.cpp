// The button's keyboard: Enter presses it as Space does, and a held key clicks it only once.
#include "platform/Win32Window.h"

namespace platform {
namespace {

// An auto-repeat of a key held down: bit 30 of WM_KEYDOWN's lParam, the key's previous state.
bool IsRepeat(LPARAM lParam) { return (lParam & (LPARAM{1} << 30)) != 0; }

}  // namespace

LRESULT CALLBACK Win32Window::FocusButtonProc(HWND button, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    auto* self =
        reinterpret_cast<Win32Window*>(::GetWindowLongPtrW(::GetParent(button), GWLP_USERDATA));
    // A form no object serves any more: the button is a plain one.
    if (!self)
        return ::CallWindowProcW(
            reinterpret_cast<WNDPROC>(::GetClassLongPtrW(button, GCLP_WNDPROC)), button, message,
            wParam, lParam);
    return self->Shielded([&]() -> LRESULT {
        if (message == WM_KEYDOWN && (wParam == VK_RETURN || wParam == VK_SPACE)) {
            // One press, one click: a key held down since before (the Enter that started the
            // program from Explorer, or closed a box) must not end the run on its repeats.
            if (IsRepeat(lParam)) return 0;
            if (wParam == VK_RETURN) {
                ::SendMessageW(::GetParent(button), WM_COMMAND,
                               MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED),
                               reinterpret_cast<LPARAM>(button));
                return 0;
            }
        }
        return ::CallWindowProcW(self->buttonProc_, button, message, wParam, lParam);
    });
}

}  // namespace platform
