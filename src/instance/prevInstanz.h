#pragma once

#include <string>

#include "platform/Runtime.h"

namespace prevInstanz {

// Returns when no other copy of the program is running. Otherwise brings the other copy's
// window forward (typing keys1, then keys2, into it when keys1 is not empty) and ends this
// copy: the call never returns.
void ActivatePrevInstance(platform::Runtime& runtime, const std::wstring& keys1,
                          const std::wstring& keys2);

}  // namespace prevInstanz
