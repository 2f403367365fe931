// Other programs' windows: finding, placing and activating them, and typing keys into them.
#include "platform/Win32Runtime.h"

#include <exception>
#include <vector>

#include "platform/KeySyntax.h"

namespace platform {
namespace {

HWND ToWindow(std::int32_t window) { return reinterpret_cast<HWND>(static_cast<INT_PTR>(window)); }

struct CollectedWindows {
    std::vector<HWND> windows;
    std::exception_ptr failure;
};

// A failure here (memory) may not unwind through the system's frames: it stops the enumeration
// and is raised after it.
BOOL CALLBACK CollectWindow(HWND window, LPARAM collected) {
    auto& into = *reinterpret_cast<CollectedWindows*>(collected);
    try {
        into.windows.push_back(window);
        return TRUE;
    } catch (...) {
        into.failure = std::current_exception();
        return FALSE;
    }
}

// The top-level windows, in z-order.
std::vector<HWND> TopLevelWindows() {
    CollectedWindows collected;
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&collected));
    if (collected.failure) std::rethrow_exception(collected.failure);
    return std::move(collected.windows);
}

std::wstring WindowText(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

void AddInput(std::vector<INPUT>& inputs, WORD vk, wchar_t character, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    if (character) {
        input.ki.wScan = static_cast<WORD>(character);
        input.ki.dwFlags = KEYEVENTF_UNICODE;
    } else {
        input.ki.wVk = vk;
    }
    if (up) input.ki.dwFlags |= KEYEVENTF_KEYUP;
    inputs.push_back(input);
}

}  // namespace

void Win32Runtime::AppActivate(const std::wstring& title) {
    const std::vector<HWND> windows = TopLevelWindows();
    HWND target = nullptr;
    for (HWND window : windows)
        if (WindowText(window) == title) {
            target = window;
            break;
        }
    if (!target)
        for (HWND window : windows)
            if (WindowText(window).compare(0, title.size(), title) == 0) {
                target = window;
                break;
            }
    if (!target || title.empty()) throw errors::InvalidCall(L"No window is titled " + title);
    if (!::SetForegroundWindow(target)) ::SetActiveWindow(target);
}

void Win32Runtime::SendKeys(const std::wstring& keys) {
    std::vector<INPUT> inputs;
    for (KeyStroke stroke : ParseKeys(keys)) {
        // A character typed with modifiers has to be its key, or Shift and Ctrl would not
        // apply to it; a plain one is typed as itself, whatever the keyboard layout.
        if (stroke.isCharacter && (stroke.shift || stroke.control || stroke.alt)) {
            const SHORT scan = ::VkKeyScanW(stroke.character);
            if (scan != -1) {
                stroke.isCharacter = false;
                stroke.virtualKey = LOBYTE(scan);
                stroke.shift = stroke.shift || (HIBYTE(scan) & 1);
            }
        }
        const wchar_t character = stroke.isCharacter ? stroke.character : 0;
        if (stroke.shift) AddInput(inputs, VK_SHIFT, 0, false);
        if (stroke.control) AddInput(inputs, VK_CONTROL, 0, false);
        if (stroke.alt) AddInput(inputs, VK_MENU, 0, false);
        AddInput(inputs, stroke.virtualKey, character, false);
        AddInput(inputs, stroke.virtualKey, character, true);
        if (stroke.alt) AddInput(inputs, VK_MENU, 0, true);
        if (stroke.control) AddInput(inputs, VK_CONTROL, 0, true);
        if (stroke.shift) AddInput(inputs, VK_SHIFT, 0, true);
    }
    if (!inputs.empty() && ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(),
                                       sizeof(INPUT)) != inputs.size())
        throw errors::InvalidCall(L"The keys could not be sent.");
}

std::int32_t Win32Runtime::FindWindowA(const std::string& className, const std::string& title) {
    return static_cast<std::int32_t>(
        reinterpret_cast<INT_PTR>(::FindWindowA(className.c_str(), title.c_str())));
}

void Win32Runtime::ShowWindowAsync(std::int32_t window, int command) {
    ::ShowWindowAsync(ToWindow(window), command);
}

void Win32Runtime::SetWindowPos(std::int32_t window, std::int32_t insertAfter, int x, int y, int cx,
                                int cy, unsigned flags) {
    ::SetWindowPos(ToWindow(window), ToWindow(insertAfter), x, y, cx, cy, flags);
}

}  // namespace platform
