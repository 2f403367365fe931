#pragma once

// What the Win32 runtime's test files share: this program's one runtime, the number of an error
// raised, a folder's names and windows of this program to look at.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Win32Common.h"
#include "platform/Win32Runtime.h"

using testbed::FilesIn;

// The first runtime of this program file: it holds the mark of a running copy.
inline platform::Win32Runtime& Runtime() {
    static platform::Win32Runtime runtime(::GetModuleHandleW(nullptr));
    return runtime;
}

// The number of the error action raises; 0 when it raises none.
inline int ErrorNumber(const std::function<void()>& action) {
    try {
        action();
    } catch (const platform::RuntimeError& error) {
        return error.Number();
    }
    return 0;
}

// A visible top-level window of this program, of a system window class.
inline HWND TopWindow(const wchar_t* className, const wchar_t* title, int left) {
    return ::CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, left, 50, 300,
                             100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}
