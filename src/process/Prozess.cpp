#include "process/Prozess.h"

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

constexpr std::uint32_t kProcessQueryLimited = 0x1000;  // PROCESS_QUERY_LIMITED_INFORMATION

// True when processId runs in session. Windows may refuse to tell the session of a process it
// lets this user query no further than its name: one of this user's run as administrator (a
// Steam started through the prompt) still opens for that much and counts as this user's; one
// that does not even open is another user's, which this user could not end anyway.
bool InSession(platform::Runtime& runtime, std::uint32_t processId, std::uint32_t session) {
    std::uint32_t its = 0;
    bool known = false;
    ResumeNext([&] { known = runtime.ProcessIdToSessionId(processId, its); });
    if (known) return its == session;
    platform::Handle process = 0;
    ResumeNext([&] { process = runtime.OpenProcess(kProcessQueryLimited, false, processId); });
    if (process == 0) return false;
    ResumeNext([&] { runtime.CloseHandle(process); });
    return true;
}

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
    std::uint32_t ownSession = 0;
    bool sessionKnown = false;
    ResumeNext([&] {
        sessionKnown = runtime.ProcessIdToSessionId(runtime.GetCurrentProcessId(), ownSession);
    });

    platform::ProcessEntry entry;
    bool more = false;
    ResumeNext([&] { more = runtime.ProcessFirst(snapshot, entry); });
    while (more) {
        std::wstring upperImage = entry.exeFile;
        ResumeNext([&] { upperImage = runtime.UCase(entry.exeFile); });
        // The session is asked only of entries the name picks, which are few.
        if (matcher.Matches(upperImage) &&
            (!sessionKnown || InSession(runtime, entry.th32ProcessID, ownSession)) &&
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
