#pragma once

// The words a case uses for what this machine can stage, as Wine's own conformance tests have
// them:
// - NIMBREL_STAGE(name, Stager(args)) stages a case (a desktop, a drive letter, a folder denied
//   writing, a small volume) and skips it, naming why, where the stager says it cannot.
// - Broken(x): a result accepted on Windows only, at the check that accepts it; under Wine it
//   is false, so the check still holds Wine to the sound result.
// - WineGapClosed(gap, worked): where a stager takes Wine's way because Wine lacks Windows' own,
//   it tries Windows' way too; the day that works, the run fails, naming the gap, so that the
//   stand-in way goes.
#include <gtest/gtest.h>

#include <string>

#include "Win32Common.h"

#define NIMBREL_STAGE(name, ...)                                             \
    const auto name = __VA_ARGS__;                                           \
    if (const std::string nimbrelWhy = name.WhyNot(); !nimbrelWhy.empty()) { \
        GTEST_SKIP() << nimbrelWhy;                                          \
    }

namespace testbed {

inline bool Broken(bool condition) { return !UnderWine() && condition; }

inline void WineGapClosed(const char* gap, bool worked) {
    if (UnderWine() && worked)
        ADD_FAILURE() << "Wine now " << gap << ": the Windows way works here, so the Wine way "
                      << "that stands in for it can go";
}

}  // namespace testbed
