#include "process/Prozess.h"

#include "platform/ResumeNext.h"

namespace Prozess {
namespace {

using platform::ResumeNext;

constexpr std::uint32_t kSnapProcess = 0x2;       // TH32CS_SNAPPROCESS
constexpr std::uint32_t kProcessTerminate = 0x1;  // PROCESS_TERMINATE
constexpr std::uint32_t kKilledExitCode = 1;

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
    if (upperImageName.find(search_) != std::wstring::npos)
        result_ = static_cast<std::int32_t>(processId);
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

    platform::ProcessEntry entry;
    bool more = false;
    ResumeNext([&] { more = runtime.ProcessFirst(snapshot, entry); });
    while (more) {
        std::wstring upperImage = entry.exeFile;
        ResumeNext([&] { upperImage = runtime.UCase(entry.exeFile); });
        if (matcher.Offer(upperImage, entry.th32ProcessID)) break;
        // A next-entry call that cannot be made ends the walk instead of repeating this entry.
        if (!ResumeNext([&] { more = runtime.ProcessNext(snapshot, entry); })) more = false;
    }
    ResumeNext([&] { runtime.CloseHandle(snapshot); });
    return matcher.Result();
}

void KillProcess(platform::Runtime& runtime, const std::int32_t& processId) {
    const platform::Handle process =
        runtime.OpenProcess(kProcessTerminate, false, static_cast<std::uint32_t>(processId));
    runtime.TerminateProcess(process, kKilledExitCode);
    runtime.CloseHandle(process);
}

}  // namespace Prozess
