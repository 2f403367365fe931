// Reference launchers for the start-to-Steam benchmark: start Steam.exe from the own folder,
// (b) after first showing a window of Nimbrel's size, as a lower bound for any launcher that
// shows one; (c) is (b) with Nimbrel's manifest, (d) is (c) with one push button on the window.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    wchar_t path[MAX_PATH * 4];
    std::wstring folder(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4));
    folder.resize(folder.rfind(L'\\'));
#ifdef NIMBREL_REF_WINDOW
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ::DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = L"RefLaunch";
    ::RegisterClassW(&windowClass);
    RECT frame{0, 0, 304, 89};
    ::AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    HWND window = ::CreateWindowW(L"RefLaunch", L"Reference", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                                  nullptr, nullptr, instance, nullptr);
#ifdef NIMBREL_REF_BUTTON
    // With the manifest, a button comes from the common controls 6: what Nimbrel's Quit costs.
    ::CreateWindowW(L"BUTTON", L"Quit", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 224, 8,
                    73, 17, window, nullptr, instance, nullptr);
#endif
    ::ShowWindow(window, SW_SHOW);
    ::UpdateWindow(window);
#else
    (void)instance;
#endif
    const std::wstring steam = folder + L"\\Steam.exe";
    std::wstring commandLine = L"\"" + steam + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(steam.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &started))
        return 1;
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return 0;
}
