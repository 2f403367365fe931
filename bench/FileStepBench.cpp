// The whole file step under Wine (read, rewrite, atomic replace) against a plain read-then-write
// copy of the same file, interleaved; and the peak memory of one step on the largest file.
// Usage: file_step_bench [peak]
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "BenchWin32.h"
#include "loginusers/OfflineFlags.h"
#include "platform/Win32Runtime.h"

namespace {

using bench::Median;
using bench::Now;
using testbed::ReadBytes;

std::string Synthetic(std::size_t size) {
    std::string text = "\"users\"\n{\n";
    for (unsigned n = 1; text.size() < size; ++n)
        text +=
            "\t\"7656119800" + std::to_string(1000000 + n) +
            "\"\n\t{\n\t\t\"AccountName\"\t\t\"user" + std::to_string(n) +
            "\"\n\t\t\"RememberPassword\"\t\t\"1\"\n\t\t\"WantsOfflineMode\"\t\t\"0\"\n"
            "\t\t\"SkipOfflineModeWarning\"\t\t\"0\"\n\t\t\"Timestamp\"\t\t\"1735587881\"\n\t}\n";
    return text + "}\n";
}

// Writes the whole file and to disk, as the program's replace does.
void WriteFlushed(const std::wstring& path, const std::string& bytes) {
    testbed::WriteBytes(path, bytes);
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ::FlushFileBuffers(file);
    ::CloseHandle(file);
}

std::size_t WorkingSet(bool peak) {
    PROCESS_MEMORY_COUNTERS counters{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return peak ? counters.PeakWorkingSetSize : counters.WorkingSetSize;
}

}  // namespace

int main(int argc, char** argv) {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring file = std::wstring(temp) + L"nimbrel-bench-loginusers.vdf";
    const std::wstring copy = file + L".copy";
    platform::Win32Runtime runtime(::GetModuleHandleW(nullptr));

    if (argc > 1 && std::string(argv[1]) == "peak") {
        WriteFlushed(file, Synthetic(64u << 20));
        const std::size_t before = WorkingSet(false);
        std::string text = runtime.ReadFileBytes(file);
        const double size = static_cast<double>(text.size());
        runtime.RewriteFile(file, std::move(text), [](std::string& bytes) {
            return loginusers::RewriteOfflineFlags(bytes, loginusers::kFlagOff,
                                                   loginusers::kFlagOn) > 0;
        });
        std::printf(
            "peak working set: %.1f MB for a %.1f MB file (%.2fx); %.1f MB before the step\n",
            (WorkingSet(true) - before) / 1048576.0, size / 1048576.0,
            static_cast<double>(WorkingSet(true) - before) / size, before / 1048576.0);
        ::DeleteFileW(file.c_str());
        return 0;
    }

    std::printf("%10s %12s %12s %8s %12s %12s\n", "size", "step ms", "copy ms", "ratio", "read ms",
                "rewrite ms");
    for (const std::size_t size :
         {std::size_t{1415}, std::size_t{1} << 20, std::size_t{16} << 20, std::size_t{64} << 20}) {
        WriteFlushed(file, Synthetic(size));
        std::vector<double> step, plain, reading, rewriting;
        bool offline = true;
        const int rounds = size > (16u << 20) ? 5 : 11;
        for (int round = 0; round < rounds; ++round) {
            double start = Now();
            std::string text = runtime.ReadFileBytes(file);
            const double read = Now();
            runtime.RewriteFile(file, std::move(text), [offline](std::string& bytes) {
                return loginusers::RewriteOfflineFlags(
                           bytes, offline ? loginusers::kFlagOff : loginusers::kFlagOn,
                           offline ? loginusers::kFlagOn : loginusers::kFlagOff) > 0;
            });
            step.push_back(Now() - start);
            reading.push_back(read - start);
            rewriting.push_back(Now() - read);
            offline = !offline;

            start = Now();
            WriteFlushed(copy, ReadBytes(file));
            plain.push_back(Now() - start);
        }
        const double s = Median(step) * 1000, c = Median(plain) * 1000;
        std::printf("%10zu %12.2f %12.2f %8.2f %12.2f %12.2f\n", ReadBytes(file).size(), s, c,
                    s / c, Median(reading) * 1000, Median(rewriting) * 1000);
    }
    ::DeleteFileW(file.c_str());
    ::DeleteFileW(copy.c_str());
    return 0;
}
