#pragma once

// What the Win32 runtime's test files share: this program's one runtime, the number of an error
// raised, a folder's names and a window besides the ones under test.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Win32Common.h"
#include "platform/Win32Runtime.h"

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

inline std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().wstring());
    return names;
}

// A visible window of this program that is none of those a case looks at.
inline HWND OtherWindow() {
    return ::CreateWindowExW(0, L"STATIC", L"Other window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 400,
                             50, 300, 100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}
