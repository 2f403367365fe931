#include "Harness.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <utility>

namespace fs = std::filesystem;

namespace e2e {
namespace {

constexpr wchar_t kFormClass[] = L"NimbrelForm";

// The Nimbrel.exe programs the running case started, kept until the case ends, so that a
// failed case can report how each stood when it failed. A deque: a Launcher keeps a reference.
std::deque<testbed::Process> startedThisCase;
bool reportedThisCase = false;

ULONGLONG Ticks(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// What a failed case leaves behind, before anything is ended: the visible windows of Nimbrel.exe
// and Steam.exe (a box with its text), each Nimbrel.exe of the case with its exit code and when
// it ended, and each Steam.exe that runs, with its path.
void ReportAfterFailure() {
    if (std::exchange(reportedThisCase, true)) return;
    for (const wchar_t* image : {L"Nimbrel.exe", L"Steam.exe"})
        for (DWORD id : ProcessesNamed(image)) {
            for (const testbed::WindowInfo& window : testbed::TopLevelWindows(id))
                if (window.visible)
                    std::printf("window of %s %lu: class %s, title \"%s\"\n", Narrow(image).c_str(),
                                static_cast<unsigned long>(id), Narrow(window.className).c_str(),
                                Narrow(window.title).c_str());
            for (const Box& box : BoxesOf(id))
                std::printf("  its box \"%s\" says: %s\n", Narrow(box.title).c_str(),
                            Narrow(box.text).c_str());
        }
    for (const testbed::Process& process : startedThisCase) {
        if (!process.Started()) continue;
        FILETIME created{}, ended{}, kernel{}, user{};
        ::GetProcessTimes(process.Handle(), &created, &ended, &kernel, &user);
        const std::optional<DWORD> code = process.WaitForExit("", 0);  // only looks
        if (!code) ::GetSystemTimeAsFileTime(&ended);
        char status[40] = "still runs";
        if (code)
            std::snprintf(status, sizeof status, "ended with exit code 0x%08lX",
                          static_cast<unsigned long>(*code));
        std::printf("Nimbrel.exe %lu: %s, %.1f s after its start\n",
                    static_cast<unsigned long>(process.Id()), status,
                    static_cast<double>(Ticks(ended) - Ticks(created)) / 1e7);
    }
    for (DWORD id : ProcessesNamed(L"Steam.exe"))
        std::printf("Steam.exe %lu runs: %s\n", static_cast<unsigned long>(id),
                    Narrow(ImagePathOf(id)).c_str());
    std::fflush(stdout);
}

}  // namespace

std::string Fixture(const char* name) {
    const std::string bytes =
        ReadBytes(fs::path(testbed::TreeFile(L"NIMBREL_FIXTURES", NIMBREL_FIXTURES)) / Widen(name));
    EXPECT_FALSE(bytes.empty()) << "no sample " << name;
    // Every sample is LF only, as Steam writes the file. A CR comes from a checkout that converts
    // line ends (core.autocrlf on a Windows runner): the LF cases would then test CR LF unseen.
    EXPECT_EQ(bytes.find('\r'), std::string::npos)
        << "the checkout changed line ends: " << name << " holds a CR";
    return bytes;
}

std::string Flagged(std::string text, char value) {
    const std::string other = value == '1' ? "\"0\"" : "\"1\"";
    for (const std::string key : {"\"WantsOfflineMode\"\t\t", "\"SkipOfflineModeWarning\"\t\t"}) {
        for (auto at = text.find(key + other); at != std::string::npos;
             at = text.find(key + other, at))
            text[at + key.size() + 1] = value;
    }
    return text;
}

std::string CrLf(const std::string& lf) {
    std::string crlf;
    for (char c : lf) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    return crlf;
}

std::string WithAccounts(int count) {
    const std::string sample = Fixture("sample-steambackup.vdf");
    const auto first = sample.find("\t\"7656"), last = sample.rfind('}');
    const std::string account = sample.substr(first, last - first);
    std::string text = sample.substr(0, first);
    for (int n = 0; n < count; ++n)
        text += account.substr(0, 8) + std::to_string(100000000 + n) + account.substr(17);
    return text + sample.substr(last);
}

ULONGLONG LastWriteTime(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return Ticks(data.ftLastWriteTime);
}

SteamFolder::SteamFolder(const std::wstring& name, const std::optional<std::string>& loginUsers,
                         bool withSteam)
    : path_(testbed::ScratchFolder(name)) {
    fs::create_directories(fs::path(path_) / L"config");
    fs::copy_file(NimbrelExe(), Nimbrel());
    if (withSteam) fs::copy_file(FakeSteamExe(), path_ + L"\\Steam.exe");
    if (loginUsers) WriteLoginUsers(*loginUsers);
}

std::vector<SteamStart> SteamStartsIn(const std::wstring& folder) {
    std::vector<SteamStart> starts;
    // Named after the performance counter: in start order.
    const std::wstring log = folder + L"\\steam-starts";  // made by the first start
    const DWORD attributes = ::GetFileAttributesW(log.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return starts;
    for (const std::wstring& name : FilesIn(log)) {
        const std::string line = ReadBytes(log + L"\\" + name);
        const auto tab1 = line.find('\t'), tab2 = line.rfind('\t');
        // A file still being written is read on the next look.
        if (tab1 == std::string::npos || tab2 == tab1 || line.back() != '\n') continue;
        starts.push_back({static_cast<DWORD>(std::stoul(line.substr(0, tab1))),
                          line.substr(tab1 + 1, tab2 - tab1 - 1),
                          line.substr(tab2 + 1, line.size() - tab2 - 2)});
    }
    return starts;
}

std::vector<SteamStart> SteamFolder::WaitForSteamStarts(std::size_t count, DWORD runningMs) const {
    bool said = false;
    const auto logged = [&] {
        const auto boxes = BoxesOf(L"Steam.exe");
        if (!boxes.empty() && !std::exchange(said, true))
            ADD_FAILURE() << "the stand-in Steam.exe says " << Narrow(boxes[0].title) << ": "
                          << Narrow(boxes[0].text);
        return SteamStarts().size() >= count || said;
    };
    const auto noneRuns = [] {
        return std::none_of(startedThisCase.begin(), startedThisCase.end(),
                            [](const testbed::Process& started) { return started.Running(); });
    };
    const std::string what = std::to_string(count) + " starts of the stand-in Steam.exe";
    // A slow start and a missing one read apart: the first wait runs out while Nimbrel.exe
    // still runs, the second once none does.
    WaitUntil(what + " while Nimbrel.exe runs", runningMs, [&] { return logged() || noneRuns(); });
    if (noneRuns()) WaitUntil(what + " once no Nimbrel.exe ran", 5000, logged);
    return SteamStarts();
}

Launcher::Launcher(const std::wstring& exe, const std::wstring& arguments,
                   const std::wstring& workingDir, int showCommand)
    : process_(startedThisCase.emplace_back(
          exe, L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments),
          testbed::Process::Options{workingDir, showCommand})) {}

Launcher::~Launcher() {
    if (!Running()) return;
    // A failed case reports how things stood before the first program is ended: a later round
    // of the same case would otherwise meet this one still running.
    if (::testing::Test::HasFailure()) ReportAfterFailure();
    process_.Terminate(98);
}

std::optional<DWORD> Launcher::Quit() const {
    for (const Box& box : BoxesOf(L"Nimbrel.exe"))
        ADD_FAILURE() << "a box was open when the case ended Nimbrel.exe: " << Narrow(box.title)
                      << ": " << Narrow(box.text);
    const HWND form = WaitForForm();
    if (!(form && testbed::ClickButton(form, L"Quit")) && Running())
        ADD_FAILURE() << "no Quit button on the window of Nimbrel.exe";
    return WaitForExit(5000);
}

std::optional<Box> Launcher::WaitForBox(DWORD timeoutMs, const std::wstring& title) const {
    std::optional<Box> box;
    const std::string what =
        title.empty() ? "a box of Nimbrel.exe" : "a box titled " + Narrow(title);
    WaitUntil(what, timeoutMs, [&] {
        const std::vector<Box> boxes = BoxesOf(ProcessId());
        if (!boxes.empty() && (title.empty() || boxes[0].title == title)) box = boxes[0];
        return box || !Running();
    });
    return box;
}

HWND Launcher::WaitForForm(DWORD timeoutMs) const {
    HWND form = nullptr;
    WaitUntil("the window of Nimbrel.exe to show", timeoutMs, [&] {
        for (const testbed::WindowInfo& window : testbed::TopLevelWindows(ProcessId()))
            if (window.visible && window.className == kFormClass) form = window.window;
        return form != nullptr || !Running();
    });
    return form;
}

std::wstring Launcher::Caption() const {
    for (const testbed::WindowInfo& window : testbed::TopLevelWindows(ProcessId()))
        if (window.className == kFormClass) return window.title;
    return {};
}

bool Launcher::WaitForCaption(const std::wstring& caption, DWORD timeoutMs) const {
    return WaitUntil("the caption " + Narrow(caption), timeoutMs,
                     [&] { return Caption() == caption; });
}

void EndToEnd::TearDown() {
    if (HasFailure()) ReportAfterFailure();
    for (const wchar_t* image : {L"Nimbrel.exe", L"Steam.exe"})
        for (const Box& box : BoxesOf(image)) {
            ADD_FAILURE() << "a box of " << Narrow(image) << " was left open: " << Narrow(box.title)
                          << ": " << Narrow(box.text);
            PressOk(box.window);
        }
    testbed::KillProcessesNamed(L"Nimbrel.exe");
    testbed::KillProcessesNamed(L"Steam.exe");
    startedThisCase.clear();
    reportedThisCase = false;
}

}  // namespace e2e
