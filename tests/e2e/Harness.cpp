#include "Harness.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace e2e {
namespace {

constexpr wchar_t kBoxClass[] = L"#32770";
constexpr wchar_t kFormClass[] = L"NimbrelForm";
constexpr int kBoxTextId = 0xFFFF;

std::wstring ScratchRoot() {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"nimbrel-e2e";
}

void ClearAttributes(const fs::path& root) {
    std::error_code error;
    if (!fs::exists(root, error)) return;
    ::SetFileAttributesW(root.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!fs::is_directory(root, error)) return;
    for (const auto& entry : fs::recursive_directory_iterator(root, error))
        ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
}

BOOL CALLBACK Collect(HWND window, LPARAM list) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256];
    const int length = ::GetClassNameW(window, name, 256);
    return std::wstring(name, length > 0 ? length : 0);
}

// The Nimbrel.exe programs the running case started, kept until the case ends, so that a
// failed case can report how each stood when it failed.
struct Started {
    HANDLE process;
    DWORD processId;
    ULONGLONG startedAt;
};
std::vector<Started>& StartedThisCase() {
    static std::vector<Started> started;
    return started;
}

bool& ReportedThisCase() {
    static bool reported = false;
    return reported;
}

bool Ended(HANDLE process) { return ::WaitForSingleObject(process, 0) != WAIT_TIMEOUT; }

// What a failed case leaves behind, before anything is ended: the windows, how each Nimbrel.exe
// of the case stood, and the stand-ins that run.
void ReportAfterFailure() {
    if (ReportedThisCase()) return;
    ReportedThisCase() = true;
    for (const wchar_t* image : {L"Nimbrel.exe", L"Steam.exe"})
        for (DWORD id : ProcessesNamed(image))
            for (const WindowInfo& window : TopLevelWindows(id)) {
                if (!window.visible) continue;
                const bool box = window.className == kBoxClass;
                std::printf(
                    "window of %s %lu: class %s, title \"%s\"%s%s\n", Utf8(image).c_str(),
                    static_cast<unsigned long>(id), Utf8(window.className).c_str(),
                    Utf8(window.title).c_str(), box ? ", text: " : "",
                    box ? Utf8(TextOf(::GetDlgItem(window.window, kBoxTextId))).c_str() : "");
            }
    for (const Started& started : StartedThisCase()) {
        DWORD code = 0;
        ::GetExitCodeProcess(started.process, &code);
        FILETIME created{}, exited{}, kernel{}, user{};
        ::GetProcessTimes(started.process, &created, &exited, &kernel, &user);
        const auto ticks = [](const FILETIME& t) {
            return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        };
        if (Ended(started.process))
            std::printf("Nimbrel.exe %lu: ended with exit code 0x%08lX, %.1f s after its start\n",
                        static_cast<unsigned long>(started.processId),
                        static_cast<unsigned long>(code),
                        static_cast<double>(ticks(exited) - ticks(created)) / 1e7);
        else
            std::printf("Nimbrel.exe %lu: still runs, %.1f s after its start\n",
                        static_cast<unsigned long>(started.processId),
                        static_cast<double>(::GetTickCount64() - started.startedAt) / 1000.0);
    }
    for (DWORD id : ProcessesNamed(L"Steam.exe"))
        std::printf("Steam.exe %lu runs: %s\n", static_cast<unsigned long>(id),
                    Utf8(ImagePathOf(id)).c_str());
    std::fflush(stdout);
}

}  // namespace

std::vector<Box> BoxesOf(const std::wstring& imageName) {
    std::vector<Box> boxes;
    for (DWORD id : ProcessesNamed(imageName))
        for (const WindowInfo& window : TopLevelWindows(id))
            if (window.visible && window.className == kBoxClass)
                boxes.push_back(
                    {window.window, window.title, TextOf(::GetDlgItem(window.window, kBoxTextId))});
    return boxes;
}

std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::wstring NimbrelExe() { return testbed::TreeFile(L"NIMBREL_EXE", NIMBREL_EXE); }

std::wstring FakeSteamExe() { return testbed::TreeFile(L"NIMBREL_FAKE_STEAM", NIMBREL_FAKE_STEAM); }

std::string Fixture(const char* name) {
    const std::string bytes =
        ReadBytes(testbed::TreeFile(L"NIMBREL_FIXTURES", NIMBREL_FIXTURES) + L"\\" + Widen(name));
    EXPECT_FALSE(bytes.empty()) << "no sample " << name;
    // Every sample is LF only, as Steam writes the file. A CR comes from a checkout that converts
    // line ends (core.autocrlf on a Windows runner): the LF cases would then test CR LF unseen.
    EXPECT_EQ(bytes.find('\r'), std::string::npos)
        << "the checkout changed line ends: " << name << " holds a CR";
    return bytes;
}

FILETIME LastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

std::wstring TextOf(HWND window) {
    const int length = ::GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

std::vector<WindowInfo> TopLevelWindows(DWORD processId) {
    std::vector<HWND> windows;
    ::EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
    std::vector<WindowInfo> found;
    for (HWND window : windows) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (processId != 0 && owner != processId) continue;
        found.push_back(
            {window, ClassOf(window), TextOf(window), owner, ::IsWindowVisible(window) != FALSE});
    }
    return found;
}

void PressOk(HWND box) {
    // Posted, not sent: a sent click only returns once Wine has finished hiding the box.
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

std::vector<DWORD> ProcessesNamed(const std::wstring& imageName) {
    std::vector<DWORD> ids;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
         more = ::Process32NextW(snapshot, &entry))
        if (::lstrcmpiW(entry.szExeFile, imageName.c_str()) == 0)
            ids.push_back(entry.th32ProcessID);
    ::CloseHandle(snapshot);
    return ids;
}

std::wstring ImagePathOf(DWORD processId) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process) return {};
    wchar_t path[MAX_PATH * 4];
    DWORD size = MAX_PATH * 4;
    const BOOL ok = ::QueryFullProcessImageNameW(process, 0, path, &size);
    ::CloseHandle(process);
    return ok ? std::wstring(path, size) : std::wstring();
}

void KillProcessesNamed(const std::wstring& imageName) {
    for (DWORD id : ProcessesNamed(imageName)) {
        HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (!process) continue;
        ::TerminateProcess(process, 99);
        WaitUntil(Utf8(imageName) + " " + std::to_string(id) + " to end once terminated", 2000,
                  [&] { return ::WaitForSingleObject(process, 0) != WAIT_TIMEOUT; });
        ::CloseHandle(process);
    }
}

SteamFolder::SteamFolder(const std::wstring& name, bool withSteam)
    : path_(ScratchRoot() + L"\\" + name) {
    ClearAttributes(path_);
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    fs::create_directories(fs::path(path_) / L"config");
    fs::copy_file(NimbrelExe(), Nimbrel());
    if (withSteam) fs::copy_file(FakeSteamExe(), path_ + L"\\Steam.exe");
}

std::vector<SteamStart> SteamStartsIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::path(folder) / L"steam-starts", error))
        names.push_back(entry.path().wstring());
    std::sort(names.begin(), names.end());  // named after the performance counter: in start order
    std::vector<SteamStart> starts;
    for (const std::wstring& name : names) {
        const std::string line = ReadBytes(name);
        const auto tab1 = line.find('\t');
        const auto tab2 = line.rfind('\t');
        // A file still being written is read on the next look.
        if (tab1 == std::string::npos || tab2 == tab1 || line.back() != '\n') continue;
        starts.push_back({static_cast<DWORD>(std::stoul(line.substr(0, tab1))),
                          line.substr(tab1 + 1, tab2 - tab1 - 1),
                          line.substr(tab2 + 1, line.size() - tab2 - 2)});
    }
    return starts;
}

std::vector<SteamFolder::Start> SteamFolder::WaitForSteamStarts(std::size_t count,
                                                                DWORD runningMs) const {
    bool said = false;
    const auto logged = [&] {
        const auto boxes = BoxesOf(L"Steam.exe");
        if (!boxes.empty() && !said)
            ADD_FAILURE() << "the stand-in Steam.exe says " << Utf8(boxes[0].title) << ": "
                          << Utf8(boxes[0].text);
        said = said || !boxes.empty();
        return SteamStarts().size() >= count || said;
    };
    const auto noneRuns = [] {
        for (const Started& started : StartedThisCase())
            if (!Ended(started.process)) return false;
        return true;
    };
    const std::string what = std::to_string(count) + " starts of the stand-in Steam.exe";
    // A slow start and a missing one read apart: the first wait runs out while Nimbrel.exe
    // still runs, the second once none does.
    WaitUntil(what + " while Nimbrel.exe runs", runningMs, [&] { return logged() || noneRuns(); });
    if (noneRuns()) WaitUntil(what + " once no Nimbrel.exe ran", 5000, logged);
    return SteamStarts();
}

std::vector<std::wstring> SteamFolder::Files(const std::wstring& subfolder) const {
    std::vector<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(fs::path(path_) / subfolder))
        names.push_back(entry.path().filename().wstring());
    return names;
}

Launcher::Launcher(const std::wstring& exe, const std::wstring& arguments,
                   const std::wstring& workingDir, int showCommand) {
    std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (showCommand >= 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(showCommand);
    }
    PROCESS_INFORMATION started{};
    startedAt_ = ::GetTickCount64();
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          workingDir.c_str(), &startup, &started)) {
        ADD_FAILURE() << "cannot start " << Utf8(exe) << ": error " << ::GetLastError();
        return;
    }
    ::CloseHandle(started.hThread);
    process_ = started.hProcess;
    processId_ = started.dwProcessId;
    StartedThisCase().push_back({process_, processId_, startedAt_});
}

Launcher::~Launcher() {
    if (!process_ || !Running()) return;
    // A failed case reports how things stood before the first program is ended: a later round
    // of the same case would otherwise meet this one still running.
    if (::testing::Test::HasFailure()) ReportAfterFailure();
    ::TerminateProcess(process_, 98);
    WaitUntil("Nimbrel.exe to end once terminated", 5000, [&] { return !Running(); });
}

std::optional<DWORD> Launcher::WaitForExit(DWORD timeoutMs) {
    if (!process_ || !WaitUntil("Nimbrel.exe to end", timeoutMs, [&] { return !Running(); }))
        return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    return code;
}

std::optional<DWORD> Launcher::Quit() {
    for (const Box& box : BoxesOf(L"Nimbrel.exe"))
        ADD_FAILURE() << "a box was open when the case ended Nimbrel.exe: " << Utf8(box.title)
                      << ": " << Utf8(box.text);
    const HWND form = WaitForForm();
    const HWND quit = form ? ::FindWindowExW(form, nullptr, L"Button", L"Quit") : nullptr;
    if (!quit && Running()) ADD_FAILURE() << "no Quit button on the window of Nimbrel.exe";
    // As the button reports a click to its window: a posted BM_CLICK needs the window active.
    if (quit)
        ::PostMessageW(form, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(quit), BN_CLICKED),
                       reinterpret_cast<LPARAM>(quit));
    return WaitForExit(5000);
}

bool Launcher::Running() { return process_ && ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

std::optional<Box> Launcher::WaitForBox(DWORD timeoutMs) {
    Box box;
    WaitUntil("a box of Nimbrel.exe", timeoutMs, [&] {
        for (const WindowInfo& window : Windows())
            if (window.visible && window.className == kBoxClass) {
                box.window = window.window;
                box.title = window.title;
                box.text = TextOf(::GetDlgItem(window.window, kBoxTextId));
                return true;
            }
        return !Running();
    });
    if (!box.window) return std::nullopt;
    return box;
}

std::optional<Box> Launcher::WaitForBoxTitled(const std::wstring& title, DWORD timeoutMs) {
    std::optional<Box> box;
    WaitUntil("a box titled " + Utf8(title), timeoutMs, [&] {
        box = WaitForBox(0);
        return (box && box->title == title) || !Running();
    });
    if (box && box->title != title) box.reset();
    return box;
}

HWND Launcher::WaitForForm(DWORD timeoutMs) {
    HWND form = nullptr;
    WaitUntil("the window of Nimbrel.exe to show", timeoutMs, [&] {
        for (const WindowInfo& window : Windows())
            if (window.visible && window.className == kFormClass) form = window.window;
        return form != nullptr || !Running();
    });
    return form;
}

std::wstring Launcher::Caption() {
    for (const WindowInfo& window : Windows())
        if (window.className == kFormClass) return window.title;
    return {};
}

bool Launcher::WaitForCaption(const std::wstring& caption, DWORD timeoutMs) {
    return WaitUntil("the caption " + Utf8(caption), timeoutMs,
                     [&] { return Caption() == caption; });
}

void EndToEnd::TearDown() {
    if (HasFailure()) ReportAfterFailure();
    for (const wchar_t* image : {L"Nimbrel.exe", L"Steam.exe"})
        for (const Box& box : BoxesOf(image)) {
            ADD_FAILURE() << "a box of " << Utf8(image) << " was left open: " << Utf8(box.title)
                          << ": " << Utf8(box.text);
            PressOk(box.window);
        }
    KillProcessesNamed(L"Nimbrel.exe");
    KillProcessesNamed(L"Steam.exe");
    for (const Started& started : StartedThisCase()) ::CloseHandle(started.process);
    StartedThisCase().clear();
    ReportedThisCase() = false;
}

}  // namespace e2e
