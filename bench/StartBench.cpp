// Time from spawning a launcher to the stand-in Steam.exe logging its start, under Wine:
// Nimbrel.exe against (a) a launcher that only starts Steam, (b) one that first shows a window
// of Nimbrel's size, (c) the same as (b) with Nimbrel's manifest (visual styles, DPI
// awareness), and (d) the same as (c) with one push button. Interleaved rounds; medians.
// Usage: start_bench [rounds] [unchanged|changed] [OTHER_NIMBREL.exe]; with "unchanged" the file
// already holds the offline flags, so Nimbrel has nothing to write; another build of Nimbrel
// (an earlier commit's, say) runs in the same rounds as one more candidate.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchWin32.h"

namespace {

using bench::Median;
using bench::Now;
using testbed::WriteBytes;

struct Candidate {
    const char* name;
    std::wstring folder;
    std::wstring exe;
    std::vector<double> times;
};

const char kLoginUsers[] =
    "\"users\"\n{\n\t\"76561198000000001\"\n\t{\n\t\t\"AccountName\"\t\t\"user01\"\n"
    "\t\t\"WantsOfflineMode\"\t\t\"0\"\n\t\t\"SkipOfflineModeWarning\"\t\t\"0\"\n\t}\n}\n";

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
    std::string loginUsers = kLoginUsers;
    if (argc > 2 && std::string(argv[2]) == "unchanged")
        for (auto at = loginUsers.find("\"0\""); at != std::string::npos;
             at = loginUsers.find("\"0\""))
            loginUsers[at + 1] = '1';
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    std::vector<Candidate> candidates = {
        {"Nimbrel.exe", L"", testbed::TreeFile(L"NIMBREL_EXE", NIMBREL_EXE), {}},
        {"(a) start only", L"", testbed::TreeFile(L"", REF_A), {}},
        {"(b) window, then start", L"", testbed::TreeFile(L"", REF_B), {}},
        {"(c) themed window, start", L"", testbed::TreeFile(L"", REF_C), {}},
        {"(d) (c) with a button", L"", testbed::TreeFile(L"", REF_D), {}}};
    std::wstring other;
    if (argc > 3) other = testbed::Widen(argv[3]);
    if (!other.empty()) candidates.push_back({"other Nimbrel.exe", L"", other, {}});
    int index = 0;
    for (Candidate& candidate : candidates) {
        candidate.folder = std::wstring(temp) + L"nimbrel-start-bench-" + std::to_wstring(index++);
        ::CreateDirectoryW(candidate.folder.c_str(), nullptr);
        ::CreateDirectoryW((candidate.folder + L"\\config").c_str(), nullptr);
        const std::wstring exe = candidate.folder + L"\\Launcher.exe";
        ::CopyFileW(candidate.exe.c_str(), exe.c_str(), FALSE);
        candidate.exe = exe;
        ::CopyFileW(testbed::TreeFile(L"NIMBREL_FAKE_STEAM", NIMBREL_FAKE_STEAM).c_str(),
                    (candidate.folder + L"\\Steam.exe").c_str(), FALSE);
        WriteBytes(candidate.folder + L"\\steam-lifetime.txt", "100");
    }
    for (int round = 0; round < rounds + 1; ++round) {  // the first round only warms up
        for (Candidate& candidate : candidates) {
            // The stand-in makes its folder of starts first thing: the moment Steam started.
            const std::wstring log = candidate.folder + L"\\steam-starts";
            std::error_code ignored;
            std::filesystem::remove_all(log, ignored);
            WriteBytes(candidate.folder + L"\\config\\loginusers.vdf", loginUsers);
            testbed::Process::Options options;
            options.workingDir = candidate.folder;
            const double start = Now();
            const testbed::Process started(candidate.exe, L"\"" + candidate.exe + L"\"", options);
            if (!started.Started()) return 1;
            while (::GetFileAttributesW(log.c_str()) == INVALID_FILE_ATTRIBUTES &&
                   Now() - start < 10)
                ::Sleep(0);
            const double elapsed = Now() - start;
            if (round > 0) candidate.times.push_back(elapsed);
            // Nimbrel would wait two seconds for its timer; it has done its part.
            started.Terminate(0);
            ::Sleep(200);  // the stand-in ends on its own after 100 ms
        }
    }
    std::printf("start to Steam, median of %d warm rounds:\n", rounds);
    for (const Candidate& candidate : candidates)
        std::printf("  %-24s %8.1f ms\n", candidate.name, Median(candidate.times) * 1000);
    const double nimbrel = Median(candidates[0].times);
    std::printf("  Nimbrel / (a) = %.2f, / (b) = %.2f, / (c) = %.2f, / (d) = %.2f\n",
                nimbrel / Median(candidates[1].times), nimbrel / Median(candidates[2].times),
                nimbrel / Median(candidates[3].times), nimbrel / Median(candidates[4].times));
    if (!other.empty())
        std::printf("  other Nimbrel / (c) = %.2f\n",
                    Median(candidates[5].times) / Median(candidates[3].times));
    return 0;
}
