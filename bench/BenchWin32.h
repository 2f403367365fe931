#pragma once

// Small helpers shared by the benchmarks that run under Wine.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Win32Common.h"

namespace bench {

// Seconds on the performance counter.
inline double Now() {
    LARGE_INTEGER count, frequency;
    ::QueryPerformanceCounter(&count);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace bench
