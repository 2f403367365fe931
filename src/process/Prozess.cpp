#include "process/Prozess.h"

#include <vector>

#include "platform/ResumeNext.h"

namespace Prozess {
namespace {

using platform::ResumeNext;

constexpr std::uint32_t kSnapProcess = 0x2;       // TH32CS_SNAPPROCESS
constexpr std::uint32_t kProcessTerminate = 0x1;  // PROCESS_TERMINATE
constexpr std::uint32_t kSynchronize = 0x100000;  // SYNCHRONIZE: the handle may be waited on
constexpr std::uint32_t kKilledExitCode = 1;
// A terminated process lingers until its handles are closed and its threads are gone.
constexpr std::uint32_t kEndWaitMs = 1000;

}  // namespace

std::wstring StripPath(const std::wstring& name) {
    const auto slash = name.rfind(L'\\');
    return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

bool ProcessMatcher::Offer(const std::wstring& upperImageName, std::uint32_t processId) {
    if (upperImageName == search_) {
        result_ = static_cast<std::int32_t>(processId);
        return true;
    }
    if (Matches(upperImageName)) result_ = static_cast<std::int32_t>(processId);
    return false;
}

std::int32_t FindProcess(platform::Runtime& runtime, std::wstring name) {
    name = StripPath(name);
    platform::Handle snapshot = 0;
    ResumeNext([&] { snapshot = runtime.CreateToolhelp32Snapshot(kSnapProcess, 0); });
    if (snapshot == 0 || snapshot == platform::kInvalidHandle) return 0;

    std::wstring upperName = name;
    ResumeNext([&] { upperName = runtime.UCase(name); });
    ProcessMatcher matcher(upperName);
    // Another user's Steam on the same machine (fast user switching, Remote Desktop) is theirs.
    // The session comes from the system's list, not from the process: a Steam started through
    // the prompt may run as an administrator's account, in this session, and open for nothing.
    // Without the list each process is asked, as the only way left; one that will not say counts.
    std::uint32_t self = 0;
    const bool selfKnown = ResumeNext([&] { self = runtime.GetCurrentProcessId(); });
    std::vector<platform::ProcessSession> sessions;
    ResumeNext([&] { sessions = runtime.ProcessSessions(); });
    const auto sessionOf = [&](std::uint32_t processId, std::uint32_t& session) {
        if (sessions.empty()) {
            bool told = false;
            ResumeNext([&] { told = runtime.ProcessIdToSessionId(processId, session); });
            return told;
        }
        for (const auto& listed : sessions)
            if (listed.processId == processId) return session = listed.sessionId, true;
        return false;
    };
    std::uint32_t own = 0;
    const bool ownKnown = selfKnown && sessionOf(self, own);
    // A process the list lacks (ended since the snapshot) counts, and all do when this
    // program's own session cannot be told.
    const auto inOwnSession = [&](std::uint32_t processId) {
        std::uint32_t its = 0;
        return !ownKnown || !sessionOf(processId, its) || its == own;
    };

    platform::ProcessEntry entry;
    bool more = false;
    ResumeNext([&] { more = runtime.ProcessFirst(snapshot, entry); });
    while (more) {
        std::wstring upperImage = entry.exeFile;
        ResumeNext([&] { upperImage = runtime.UCase(entry.exeFile); });
        if (matcher.Matches(upperImage) && inOwnSession(entry.th32ProcessID) &&
            matcher.Offer(upperImage, entry.th32ProcessID))
            break;
        // A next-entry call that cannot be made ends the walk instead of repeating this entry.
        if (!ResumeNext([&] { more = runtime.ProcessNext(snapshot, entry); })) more = false;
    }
    ResumeNext([&] { runtime.CloseHandle(snapshot); });
    return matcher.Result();
}

void KillProcess(platform::Runtime& runtime, const std::int32_t& processId) {
    const platform::Handle process = runtime.OpenProcess(kProcessTerminate | kSynchronize, false,
                                                         static_cast<std::uint32_t>(processId));
    // Waited for, so that the lookup that follows does not still see it dying.
    if (runtime.TerminateProcess(process, kKilledExitCode))
        runtime.WaitForSingleObject(process, kEndWaitMs);
    runtime.CloseHandle(process);
}

}  // namespace Prozess
