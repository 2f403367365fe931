// The window under Wine: layout at the display's DPI, closing, and the web address.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "Harness.h"

using namespace e2e;

using Window = EndToEnd;

// The suite runs in more than one desktop configuration; each run checks it got the one it names.
TEST(Desktop, IsTheConfigurationThisRunIsNamedFor) {
    const char* locale = std::getenv("NIMBREL_EXPECT_LOCALE");
    const bool japanese = locale && std::string(locale).rfind("ja_JP", 0) == 0;
    EXPECT_EQ(::GetACP(), japanese ? 932u : 1252u);
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto getVersion = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    ASSERT_NE(getVersion, nullptr);
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    getVersion(&version);
    EXPECT_EQ(version.dwMajorVersion, japanese ? 6u : 10u)
        << "Windows 7 is 6.1, Windows 10 is 10.0";
    // A run named for its build (the wow64 one, every run of the Windows test script) checks it
    // got those files: wow64 pairs the i686 file with an x86-64 stand-in, as 64-bit Windows runs
    // it beside a 64-bit Steam.
    const char* build = std::getenv("NIMBREL_EXPECT_BUILD");
    if (!build) return;
    const bool wow64 = std::string(build) == "wow64", i686 = std::string(build) == "i686";
    ASSERT_TRUE(wow64 || i686 || std::string(build) == "x86-64") << build;
    DWORD nimbrel = ~0u, steam = ~0u;
    ::GetBinaryTypeW(NimbrelExe().c_str(), &nimbrel);
    ::GetBinaryTypeW(FakeSteamExe().c_str(), &steam);
    EXPECT_EQ(nimbrel, DWORD(wow64 || i686 ? SCS_32BIT_BINARY : SCS_64BIT_BINARY))
        << "the Nimbrel.exe under test is not the " << (wow64 ? "i686" : build) << " one";
    EXPECT_EQ(steam, DWORD(i686 ? SCS_32BIT_BINARY : SCS_64BIT_BINARY))
        << "the stand-in is not the " << (i686 ? "i686" : "x86-64") << " one";
}

TEST_F(Window, LayoutFollowsTheDesignAtTheDisplayDpi) {
    const char* expected = std::getenv("NIMBREL_EXPECT_DPI");
    const int dpi = expected ? std::atoi(expected) : 96;
    HDC screen = ::GetDC(nullptr);
    ASSERT_EQ(::GetDeviceCaps(screen, LOGPIXELSY), dpi)
        << "the prefix is not at the DPI this run wants";
    ::ReleaseDC(nullptr, screen);
    const auto px = [dpi](int twips) { return ::MulDiv(twips, dpi, 1440); };

    SteamFolder steam(L"Steam-layout", "");
    Launcher nimbrel(steam.Nimbrel(), L"", steam.Elsewhere());
    const auto box = nimbrel.WaitForBox();
    ASSERT_TRUE(box);
    HWND form = nimbrel.WaitForForm();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(nimbrel.Caption(), L"Nimbrel - V. 0.1");
    RECT client;
    ::GetClientRect(form, &client);
    EXPECT_EQ(client.right, px(4560));
    EXPECT_EQ(client.bottom, px(1335));

    std::vector<HWND> children;
    for (HWND child = ::GetWindow(form, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    ASSERT_THAT(children, SizeIs(3));
    struct Expected {
        const wchar_t* className;
        int left, top, width, height;
        bool tabStop;
    };
    const Expected design[] = {{L"Button", 3360, 120, 1095, 255, true},
                               {L"Static", 480, 1080, 3615, 255, false},
                               {L"Static", 120, 240, 4095, 615, false}};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        wchar_t name[64];
        EXPECT_EQ(std::wstring(name, ::GetClassNameW(children[i], name, 64)), design[i].className);
        RECT rect;
        ::GetWindowRect(children[i], &rect);
        ::MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_EQ(rect.left, px(design[i].left));
        EXPECT_EQ(rect.top, px(design[i].top));
        EXPECT_EQ(rect.right - rect.left, px(design[i].width));
        EXPECT_EQ(rect.bottom - rect.top, px(design[i].height));
        EXPECT_EQ((::GetWindowLongW(children[i], GWL_STYLE) & WS_TABSTOP) != 0, design[i].tabStop);
    }
    EXPECT_EQ(TextOf(children[0]), L"Quit");
    EXPECT_EQ(TextOf(children[1]), L"http://www.example.org/nimbrel/");
    EXPECT_EQ(TextOf(children[2]).size(), 115u);
    PressOk(box->window);
    EXPECT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
    EXPECT_EQ(nimbrel.Quit(), 0u);
}

TEST_F(Window, ClosingTheWindowEndsTheProgram) {
    SteamFolder steam(L"Steam-close", "");
    Launcher nimbrel(steam.Nimbrel(), L"", steam.Path());
    HWND form = nimbrel.WaitForForm();
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(nimbrel.WaitForCaption(L"Loading Steam.exe"));
    const ULONGLONG closedAt = ::GetTickCount64();
    ::PostMessageW(form, WM_CLOSE, 0, 0);
    EXPECT_EQ(nimbrel.WaitForExit(5000), 0u);
    EXPECT_LT(::GetTickCount64() - closedAt, 1500u);
}

TEST_F(Window, SpaceOrEnterPressesQuitWheneverTheFormIsActive) {
    NIMBREL_STAGE(foreground, testbed::ForegroundWindow());
    struct Case {
        const wchar_t* name;
        WORD key;
        bool afterBox;    // started elsewhere: the run stops at the Steam box first
        bool heldBefore;  // Enter and Space held down since before the start: only repeats come
    };
    for (const Case c : {Case{L"space", VK_SPACE, false, false},
                         Case{L"enter after a box", VK_RETURN, true, false},
                         Case{L"enter held before", VK_RETURN, false, true}}) {
        SCOPED_TRACE(Narrow(c.name));
        SteamFolder steam(std::wstring(L"Steam-keys-") + c.name, "");
        Launcher nimbrel(steam.Nimbrel(), L"", c.afterBox ? steam.Elsewhere() : steam.Path());
        // Closing the box hands the activation, and with it the focus, back to the form.
        if (c.afterBox) {
            const auto box = nimbrel.WaitForBox();
            ASSERT_TRUE(box);
            PressOk(box->window);
        }
        HWND form = nimbrel.WaitForForm();
        ASSERT_NE(form, nullptr);
        ASSERT_TRUE(nimbrel.WaitForCaption(L"Loading Steam.exe"));  // the timed exit is pending
        ::SetForegroundWindow(form);
        ASSERT_TRUE(WaitUntil("the form to come to the foreground", 2000,
                              [&] { return ::GetForegroundWindow() == form; }));
        if (c.heldBefore) {
            HWND quit = ::FindWindowExW(form, nullptr, L"Button", L"Quit");
            constexpr LPARAM kRepeat = LPARAM{1} << 30, kRelease = LPARAM{1} << 31;
            for (const WPARAM key : {VK_RETURN, VK_RETURN, VK_SPACE, VK_SPACE})
                ::PostMessageW(quit, WM_KEYDOWN, key, kRepeat | 1);
            ::PostMessageW(quit, WM_KEYUP, VK_SPACE, kRepeat | kRelease | 1);
            ::Sleep(300);
            ASSERT_TRUE(nimbrel.Running()) << "a held key's repeats pressed Quit";
        }
        INPUT keys[2] = {};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = c.key;
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        const ULONGLONG pressedAt = ::GetTickCount64();
        ASSERT_EQ(::SendInput(2, keys, sizeof(INPUT)), 2u);
        EXPECT_EQ(nimbrel.WaitForExit(5000), 0u);
        EXPECT_LT(::GetTickCount64() - pressedAt, 1000u) << "ended by the key, not by the timer";
    }
}

TEST_F(Window, TheAddressOpensTheSystemExplorerNeverADecoy) {
    SteamFolder steam(L"Steam-explorer", "");
    // A decoy Explorer.exe where a bare name would be searched first: beside the program and
    // in the working directory. It is the stand-in, so a start would show in the log.
    ::CopyFileW(FakeSteamExe().c_str(), (steam.Path() + L"\\Explorer.exe").c_str(), FALSE);
    const auto before = ProcessesNamed(L"explorer.exe");
    Launcher nimbrel(steam.Nimbrel(), L"", steam.Path());
    HWND form = nimbrel.WaitForForm();
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(nimbrel.WaitForCaption(L"Loading Steam.exe"));
    HWND label = ::FindWindowExW(form, nullptr, L"Static", L"http://www.example.org/nimbrel/");
    ASSERT_NE(label, nullptr);
    ::PostMessageW(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4));
    ::PostMessageW(label, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));

    std::wstring started;
    ASSERT_TRUE(WaitUntil("an explorer.exe to start", 3000, [&] {
        for (DWORD id : ProcessesNamed(L"explorer.exe"))
            if (std::find(before.begin(), before.end(), id) == before.end())
                started = ImagePathOf(id);
        return !started.empty();
    }));
    // Wine reports its system explorer under system32 even when started from the Windows folder.
    wchar_t windows[MAX_PATH];
    const std::wstring folder(windows, ::GetWindowsDirectoryW(windows, MAX_PATH));
    EXPECT_EQ(::CompareStringOrdinal(started.c_str(), static_cast<int>(folder.size()),
                                     folder.c_str(), static_cast<int>(folder.size()), TRUE),
              CSTR_EQUAL)
        << Narrow(started);
    EXPECT_EQ(started.find(steam.Path()), std::wstring::npos);
    EXPECT_EQ(nimbrel.Caption(), L"Loading Steam.exe") << "the click does not change the caption";
    EXPECT_EQ(nimbrel.WaitForExit(10000), 0u) << "the timed exit still comes";
    for (const auto& start : steam.SteamStarts())
        EXPECT_EQ(start.commandLine.find("Explorer.exe"), std::string::npos) << "the decoy ran";
    for (DWORD id : ProcessesNamed(L"explorer.exe"))
        if (std::find(before.begin(), before.end(), id) == before.end()) {
            HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, id);
            ::TerminateProcess(process, 0);
            ::CloseHandle(process);
        }
}

TEST_F(Window, AShortcutSetToRunMinimizedStartsItMinimizedAndTheRunGoesOn) {
    for (const bool withBox : {false, true}) {
        SCOPED_TRACE(withBox ? "held at the Steam box" : "straight through");
        SteamFolder steam(withBox ? L"Steam-minimized-box" : L"Steam-minimized", kOnline);
        Launcher nimbrel(steam.Nimbrel(), L"", withBox ? steam.Elsewhere() : steam.Path(),
                         SW_SHOWMINNOACTIVE);
        if (withBox) {  // boxes still show
            const auto box = nimbrel.WaitForBox();
            ASSERT_TRUE(box);
            EXPECT_TRUE(::IsIconic(nimbrel.WaitForForm()));
            PressOk(box->window);
        }
        HWND form = nimbrel.WaitForForm();
        ASSERT_NE(form, nullptr);
        ASSERT_TRUE(nimbrel.WaitForCaption(L"Loading Steam.exe"));  // the timed exit is pending
        EXPECT_TRUE(::IsIconic(form));
        // Closing a box hands the activation back to its owner, as everywhere.
        if (!withBox) {
            EXPECT_NE(::GetForegroundWindow(), form) << "it took the focus";
        }
        EXPECT_THAT(steam.WaitForSteamStarts(1), SizeIs(1));
        EXPECT_EQ(nimbrel.Quit(), 0u);
        EXPECT_EQ(steam.ReadLoginUsers(), Flagged(kOnline));
    }
}
