#pragma once

// Small helpers shared by the benchmarks that run under Wine.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

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

// Writes a whole file plainly; with flush, also to disk, as the program's replace does.
inline void WriteBytes(const std::wstring& path, const std::string& bytes, bool flush) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD done = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
    if (flush) ::FlushFileBuffers(file);
    ::CloseHandle(file);
}

}  // namespace bench
