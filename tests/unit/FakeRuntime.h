#pragma once

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Common.h"
#include "app/Form1.h"
#include "platform/Runtime.h"

using testbed::Narrow;  // UTF-8, for readable test output

// A runtime that records one line per call and simulates a small world: files, a process
// list in which Steam appears when launched and leaves when terminated, and timers.
class FakeRuntime : public platform::Runtime {
public:
    std::vector<std::string> calls;

    std::wstring appPath = L"C:\\Steam";
    std::wstring exeName = L"Nimbrel";
    std::wstring title = L"Nimbrel";
    std::wstring commandText;
    bool prevInstance = false;
    std::set<std::wstring> dirFinds = {L"steam.exe", L"C:\\Steam\\config\\loginusers.vdf"};
    std::map<std::wstring, std::string> files = {
        {L"C:\\Steam\\config\\loginusers.vdf", "\"WantsOfflineMode\"\t\t\"0\"\n"}};
    std::optional<platform::RuntimeError> replaceError;
    std::optional<std::string> savedMeanwhile;

    static constexpr std::uint32_t kOwnSession = 1, kOtherSession = 2;
    static constexpr std::uint32_t kUnknownSession = ~0u;  // missing from the system's list
    static constexpr std::uint32_t kOwnProcessId = 1234;
    std::uint32_t ownSession = kOwnSession;
    bool sessionListFails = false;  // the system's list cannot be had: each process is asked
    struct Process {
        std::wstring name;
        std::uint32_t id;
        std::uint32_t session = kOwnSession;
    };
    std::vector<Process> processes = {{L"System", 4}, {L"explorer.exe", 100}};
    int steamShowsAfterLaunches = 1;  // 0: a launched Steam never shows in the process list
    std::set<std::uint32_t> unkillable, unopenable;
    std::set<std::uint32_t> slowToEnd;  // terminated, listed until a wait is made on it
    std::uint32_t nextSteamId = 5000;
    int steamLaunches = 0;
    std::optional<platform::RuntimeError> shellError;

    std::wstring caption;
    std::map<platform::FormTimer, bool> timers;
    std::function<void()> onDoEvents;  // e.g. a click that arrives during the pass
    std::function<void()> onActivate;
    std::set<std::string> failing;  // names of calls that raise instead
    std::int32_t windowFound = 0;

    // Runs handler the way the window system would: through the form's event boundary.
    // Returns true when the program ended (Quit was called).
    bool Run(app::Form1& form, const std::function<void()>& handler) {
        try {
            form.Guard(handler);
        } catch (const Ended&) {
            return true;
        }
        return false;
    }

    std::vector<std::string> CallsStartingWith(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const auto& call : calls)
            if (call.rfind(prefix, 0) == 0) found.push_back(call);
        return found;
    }

    std::wstring AppPath() override { return appPath; }
    std::wstring AppExeName() override { return exeName; }
    std::wstring AppTitle() override {
        Raise("AppTitle");
        return title;
    }
    void SetAppTitle(const std::wstring& t) override {
        Record("SetAppTitle " + Narrow(t));
        Raise("SetAppTitle");
        title = t;
    }
    bool AppPrevInstance() override {
        Raise("AppPrevInstance");
        return prevInstance;
    }
    std::wstring CommandText() override { return commandText; }
    std::wstring WindowsFolder() override { return L"C:\\Windows"; }
    std::wstring LCase(const std::wstring& text) override { return Map(text, towlower); }
    std::wstring UCase(const std::wstring& text) override {
        Raise("UCase");
        return Map(text, towupper);
    }

    std::wstring Dir(const std::wstring& path) override {
        Record("Dir " + Narrow(path));
        return dirFinds.count(path) ? path.substr(path.rfind(L'\\') + 1) : L"";
    }
    std::string ReadFileBytes(const std::wstring& path) override {
        Record("Read " + Narrow(path));
        const auto file = files.find(path);
        if (file == files.end()) throw platform::errors::FileNotFound(path);
        return file->second;
    }
    // Records a write-back only when the rewrite changes something, as the real one writes
    // only then. With savedMeanwhile set, another program saves that text between the read
    // and the swap, and that is what gets rewritten, as in the real one.
    void RewriteFile(const std::wstring& path, std::string text,
                     const platform::Rewrite& rewrite) override {
        if (!rewrite(text)) return;
        Record("Replace " + Narrow(path));
        if (replaceError) throw *replaceError;
        if (savedMeanwhile && !rewrite(text = *savedMeanwhile)) return;
        files[path] = text;
    }

    void ShowForm() override { Record("ShowForm"); }
    void SetCaption(const std::wstring& text) override {
        Record("Caption " + Narrow(text));
        caption = text;
    }
    void SetTimerEnabled(platform::FormTimer timer, bool enabled) override {
        Record(std::string("Timer ") +
               (timer == platform::FormTimer::Timer1 ? "Timer1 " : "RunSteamTimer ") +
               (enabled ? "on" : "off"));
        timers[timer] = enabled;
    }
    void MsgBox(const std::wstring& prompt, int style, const std::wstring& boxTitle) override {
        Record("MsgBox " + std::to_string(style) + " " + Narrow(boxTitle) + ": " + Narrow(prompt));
    }
    void DoEvents() override {
        Record("DoEvents");
        Raise("DoEvents");
        if (onDoEvents) onDoEvents();
    }
    void Shell(const std::wstring& program, const std::wstring& arguments, int style) override {
        Record("Shell " + Narrow(program) + "|" + Narrow(arguments) + "|" + std::to_string(style));
        if (shellError) throw *shellError;
        if (program.size() >= 10 && program.compare(program.size() - 10, 10, L"\\Steam.exe") == 0) {
            ++steamLaunches;
            if (steamShowsAfterLaunches > 0 && steamLaunches >= steamShowsAfterLaunches)
                processes.push_back({L"Steam.exe", nextSteamId++});
        }
    }
    [[noreturn]] void End() override {
        Record("End");
        throw platform::ProgramEnd{};
    }
    void ShowErrorBox(const platform::RuntimeError& error) override {
        Record("ErrorBox " + std::to_string(error.Number()) + " " + Narrow(error.Description()));
    }
    [[noreturn]] void Quit(int exitCode) override {
        Record("Quit " + std::to_string(exitCode));
        throw Ended{};
    }

    void AppActivate(const std::wstring& t) override {
        Record("AppActivate " + Narrow(t));
        Raise("AppActivate");
        if (onActivate) onActivate();
    }
    void SendKeys(const std::wstring& keys) override {
        Record("SendKeys " + Narrow(keys));
        Raise("SendKeys");
    }
    std::int32_t FindWindowA(const std::string& cls, const std::string& t) override {
        Record("FindWindowA " + cls + " " + t);
        Raise("FindWindowA");
        return windowFound;
    }
    void ShowWindowAsync(std::int32_t window, int command) override {
        Record("ShowWindowAsync " + std::to_string(window) + " " + std::to_string(command));
        Raise("ShowWindowAsync");
    }
    void SetWindowPos(std::int32_t window, std::int32_t after, int x, int y, int cx, int cy,
                      unsigned flags) override {
        Record("SetWindowPos " + std::to_string(window) + " " + std::to_string(after) + " " +
               std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(cx) + " " +
               std::to_string(cy) + " " + std::to_string(flags));
        Raise("SetWindowPos");
    }

    platform::Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t id) override {
        Record("Snapshot " + std::to_string(flags) + " " + std::to_string(id));
        Raise("Snapshot");
        if (failing.count("SnapshotInvalid")) return platform::kInvalidHandle;
        snapshots_[nextHandle_] = {processes, 0};
        return nextHandle_++;
    }
    bool ProcessFirst(platform::Handle snapshot, platform::ProcessEntry& entry) override {
        Record("First");
        Raise("First");
        snapshots_[snapshot].position = 0;
        return Fill(snapshot, entry);
    }
    bool ProcessNext(platform::Handle snapshot, platform::ProcessEntry& entry) override {
        Record("Next");
        Raise("Next");
        ++snapshots_[snapshot].position;
        return Fill(snapshot, entry);
    }
    platform::Handle OpenProcess(std::uint32_t access, bool inherit, std::uint32_t id) override {
        Record("OpenProcess " + std::to_string(access) + " " + std::to_string(inherit) + " " +
               std::to_string(id));
        for (const auto& process : processes)
            if (process.id == id && !unopenable.count(id)) return 0x10000 + id;
        return 0;
    }
    bool TerminateProcess(platform::Handle process, std::uint32_t exitCode) override {
        Record("TerminateProcess " + std::to_string(process) + " " + std::to_string(exitCode));
        if (process == 0) return false;
        const auto id = static_cast<std::uint32_t>(process - 0x10000);
        if (unkillable.count(id)) return false;
        for (auto it = processes.begin(); it != processes.end(); ++it)
            if (it->id == id) {
                if (!slowToEnd.count(id)) processes.erase(it);
                return true;
            }
        return false;
    }
    std::uint32_t WaitForSingleObject(platform::Handle handle, std::uint32_t ms) override {
        Record("WaitForSingleObject " + std::to_string(handle) + " " + std::to_string(ms));
        const auto id = static_cast<std::uint32_t>(handle - 0x10000);
        for (auto it = processes.begin(); it != processes.end(); ++it)
            if (it->id == id && slowToEnd.erase(id)) {
                processes.erase(it);
                break;
            }
        return 0;
    }
    std::vector<platform::ProcessSession> ProcessSessions() override {
        Record("ProcessSessions");
        std::vector<platform::ProcessSession> sessions;
        if (sessionListFails) return sessions;
        if (ownSession != kUnknownSession) sessions.push_back({kOwnProcessId, ownSession});
        for (const auto& process : processes)
            if (process.session != kUnknownSession)
                sessions.push_back({process.id, process.session});
        return sessions;
    }
    // Asked of the process itself: one that opens for nothing cannot tell.
    bool ProcessIdToSessionId(std::uint32_t id, std::uint32_t& session) override {
        Record("ProcessIdToSessionId " + std::to_string(id));
        if (id == kOwnProcessId) return session = ownSession, ownSession != kUnknownSession;
        for (const auto& process : processes)
            if (process.id == id && !unopenable.count(id) && process.session != kUnknownSession)
                return session = process.session, true;
        return false;
    }
    std::uint32_t GetCurrentProcessId() override {
        Record("GetCurrentProcessId");
        return kOwnProcessId;
    }
    bool CloseHandle(platform::Handle handle) override {
        Record("CloseHandle " + std::to_string(handle));
        return true;
    }

private:
    struct Ended {};
    struct Snapshot {
        std::vector<Process> list;
        std::size_t position;
    };

    void Record(std::string call) { calls.push_back(std::move(call)); }
    void Raise(const std::string& name) {
        if (failing.count(name)) throw platform::errors::InvalidCall(L"simulated failure");
    }
    static std::wstring Map(std::wstring text, wint_t (*map)(wint_t)) {
        for (auto& c : text) c = static_cast<wchar_t>(map(static_cast<wint_t>(c)));
        return text;
    }
    bool Fill(platform::Handle snapshot, platform::ProcessEntry& entry) {
        const Snapshot& s = snapshots_[snapshot];
        if (s.position >= s.list.size()) return false;
        entry.exeFile = s.list[s.position].name;
        entry.th32ProcessID = s.list[s.position].id;
        return true;
    }

    std::map<platform::Handle, Snapshot> snapshots_;
    platform::Handle nextHandle_ = 0x700;
};
