#pragma once

#include <algorithm>
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

inline const std::wstring kLoginUsers = L"C:\\Steam\\config\\loginusers.vdf";

// A runtime that records one line per call and simulates a small world: files, a process
// list in which Steam appears when launched and leaves when terminated, and timers.
class FakeRuntime : public platform::Runtime {
public:
    std::vector<std::string> calls;

    std::wstring appPath = L"C:\\Steam";
    std::wstring title = L"Nimbrel";
    std::wstring commandText;
    bool prevInstance = false;
    std::set<std::wstring> dirFinds = {L"steam.exe", kLoginUsers};
    std::map<std::wstring, std::string> files = {{kLoginUsers, "\"WantsOfflineMode\"\t\t\"0\"\n"}};
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
    std::set<std::string> failing;     // names of calls that raise (once recorded, if they are)
    std::int32_t windowFound = 0;

    app::Form1 form{*this};  // the program under test, over this runtime

    // Runs handler the way the window system would: through the form's event boundary.
    // Returns true when the program ended (Quit was called).
    bool Run(const std::function<void()>& handler) {
        try {
            form.Guard(handler);
        } catch (const Ended&) {
            return true;
        }
        return false;
    }
    bool Load() {
        return Run([this] { form.Form_Load(); });
    }

    // The calls that begin with any of the prefixes, in order.
    template <class... Prefix>
    std::vector<std::string> CallsStartingWith(const Prefix&... prefixes) const {
        std::vector<std::string> found;
        for (const auto& call : calls)
            if (((call.rfind(prefixes, 0) == 0) || ...)) found.push_back(call);
        return found;
    }

    std::wstring AppPath() override { return appPath; }
    std::wstring AppExeName() override { return L"Nimbrel"; }
    std::wstring AppTitle() override { return Answer("AppTitle", title); }
    void SetAppTitle(const std::wstring& t) override {
        Record("SetAppTitle " + Narrow(t));
        title = t;
    }
    bool AppPrevInstance() override { return Answer("AppPrevInstance", prevInstance); }
    std::wstring CommandText() override { return commandText; }
    std::wstring WindowsFolder() override { return L"C:\\Windows"; }
    std::wstring LCase(const std::wstring& text) override { return Map(text, towlower); }
    std::wstring UCase(const std::wstring& text) override {
        return Answer("UCase", Map(text, towupper));
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

    void AppActivate(const std::wstring& t) override { Record("AppActivate " + Narrow(t)); }
    void SendKeys(const std::wstring& keys) override { Record("SendKeys " + Narrow(keys)); }
    std::int32_t FindWindowA(const std::string& cls, const std::string& t) override {
        Record("FindWindowA " + cls + " " + t);
        return windowFound;
    }
    void ShowWindowAsync(std::int32_t window, int command) override {
        Record("ShowWindowAsync " + std::to_string(window) + " " + std::to_string(command));
    }
    void SetWindowPos(std::int32_t window, std::int32_t after, int x, int y, int cx, int cy,
                      unsigned flags) override {
        Record("SetWindowPos " + std::to_string(window) + " " + std::to_string(after) + " " +
               std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(cx) + " " +
               std::to_string(cy) + " " + std::to_string(flags));
    }

    platform::Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t id) override {
        Record("Snapshot " + std::to_string(flags) + " " + std::to_string(id));
        if (failing.count("SnapshotInvalid")) return platform::kInvalidHandle;
        snapshots_[nextHandle_] = {processes, 0};
        return nextHandle_++;
    }
    bool ProcessFirst(platform::Handle snapshot, platform::ProcessEntry& entry) override {
        Record("First");
        return Fill(snapshots_[snapshot], 0, entry);
    }
    bool ProcessNext(platform::Handle snapshot, platform::ProcessEntry& entry) override {
        Record("Next");
        return Fill(snapshots_[snapshot], snapshots_[snapshot].position + 1, entry);
    }
    platform::Handle OpenProcess(std::uint32_t access, bool inherit, std::uint32_t id) override {
        Record("OpenProcess " + std::to_string(access) + " " + std::to_string(inherit) + " " +
               std::to_string(id));
        return Listed(id) != processes.end() && !unopenable.count(id) ? 0x10000 + id : 0;
    }
    bool TerminateProcess(platform::Handle process, std::uint32_t exitCode) override {
        Record("TerminateProcess " + std::to_string(process) + " " + std::to_string(exitCode));
        if (process == 0) return false;
        const auto id = static_cast<std::uint32_t>(process - 0x10000);
        const auto listed = Listed(id);
        if (unkillable.count(id) || listed == processes.end()) return false;
        if (!slowToEnd.count(id)) processes.erase(listed);
        return true;
    }
    std::uint32_t WaitForSingleObject(platform::Handle handle, std::uint32_t ms) override {
        Record("WaitForSingleObject " + std::to_string(handle) + " " + std::to_string(ms));
        const auto id = static_cast<std::uint32_t>(handle - 0x10000);
        if (const auto listed = Listed(id); listed != processes.end() && slowToEnd.erase(id))
            processes.erase(listed);
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

    // Records the call and answers it.
    void Record(std::string call) {
        calls.push_back(std::move(call));
        Answer(calls.back().substr(0, calls.back().find(' ')));
    }
    // Answers a call with value, or raises where failing names the call.
    template <class T = bool>
    T Answer(const std::string& name, T value = {}) {
        if (failing.count(name)) throw platform::errors::InvalidCall(L"simulated failure");
        return value;
    }
    std::vector<Process>::iterator Listed(std::uint32_t id) {
        return std::find_if(processes.begin(), processes.end(),
                            [id](const Process& process) { return process.id == id; });
    }
    static std::wstring Map(std::wstring text, wint_t (*map)(wint_t)) {
        for (auto& c : text) c = static_cast<wchar_t>(map(static_cast<wint_t>(c)));
        return text;
    }
    static bool Fill(Snapshot& snapshot, std::size_t position, platform::ProcessEntry& entry) {
        snapshot.position = position;
        if (position >= snapshot.list.size()) return false;
        entry.exeFile = snapshot.list[position].name;
        entry.th32ProcessID = snapshot.list[position].id;
        return true;
    }

    std::map<platform::Handle, Snapshot> snapshots_;
    platform::Handle nextHandle_ = 0x700;
};
