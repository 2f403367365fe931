#pragma once

#include <cstdint>
#include <string>

#include "platform/Runtime.h"

namespace Prozess {

// The part of name after its rightmost backslash; the whole name when it has none.
std::wstring StripPath(const std::wstring& name);

// Decides a lookup over processes offered in enumeration order, names already upper-cased:
// the first exact match wins at once, else the last image name containing the search name.
class ProcessMatcher {
public:
    explicit ProcessMatcher(std::wstring upperSearchName) : search_(std::move(upperSearchName)) {}
    // True when the image name is the search name or contains it: an entry Offer would take.
    bool Matches(const std::wstring& upperImageName) const {
        return upperImageName.find(search_) != std::wstring::npos;
    }
    // True when this entry is an exact match, which ends the search.
    bool Offer(const std::wstring& upperImageName, std::uint32_t processId);
    std::int32_t Result() const noexcept { return result_; }

private:
    std::wstring search_;
    std::int32_t result_ = 0;
};

// The id of a running process whose image name is name (ignoring case; a path is cut at its
// last backslash), else of the last one whose image name contains it; 0 when there is none
// or no process list can be had. Only processes of this program's own session count, as the
// system's list of sessions tells it: one it does not list counts, and all do when it does not
// list this program. Without that list each process is asked its session: one that cannot be
// asked counts, and all do when this program cannot be. Never raises.
std::int32_t FindProcess(platform::Runtime& runtime, std::wstring name);

// One attempt to end the process with exit code 1, waiting a moment for its end; nothing is
// examined or reported.
void KillProcess(platform::Runtime& runtime, const std::int32_t& processId);

}  // namespace Prozess
