// Throughput of the offline-flag rewrite, next to a plain memcpy of the same buffer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "Common.h"
#include "loginusers/OfflineFlags.h"

namespace {

std::string RealFile() { return testbed::ReadBytes(NIMBREL_FIXTURES "/sample-fastlogin.vdf"); }

// Realistic account blocks, as Steam writes them, up to the size asked for.
std::string Synthetic(std::size_t size) {
    std::string text = "\"users\"\n{\n";
    for (unsigned n = 1; text.size() < size; ++n) {
        const std::string id = std::to_string(76561198000000000ull + n);
        text += "\t\"" + id + "\"\n\t{\n\t\t\"AccountName\"\t\t\"user" + std::to_string(n) +
                "\"\n\t\t\"PersonaName\"\t\t\"Player " + std::to_string(n) +
                "\"\n\t\t\"RememberPassword\"\t\t\"1\"\n\t\t\"WantsOfflineMode\"\t\t\"0\"\n"
                "\t\t\"SkipOfflineModeWarning\"\t\t\"0\"\n\t\t\"AllowAutoLogin\"\t\t\"0\"\n"
                "\t\t\"MostRecent\"\t\t\"0\"\n\t\t\"Timestamp\"\t\t\"1735587881\"\n\t}\n";
    }
    return text + "}\n";
}

std::string Input(std::int64_t size) {
    return size == 0 ? RealFile() : Synthetic(static_cast<std::size_t>(size));
}

void Rewrite(benchmark::State& state) {
    std::string text = Input(state.range(0));
    bool offline = true;
    for (auto _ : state) {
        // Alternate directions so that every pass flips every flag.
        benchmark::DoNotOptimize(loginusers::RewriteOfflineFlags(
            text, offline ? loginusers::kFlagOff : loginusers::kFlagOn,
            offline ? loginusers::kFlagOn : loginusers::kFlagOff));
        offline = !offline;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["file_bytes"] = static_cast<double>(text.size());
}

void Memcpy(benchmark::State& state) {
    const std::string text = Input(state.range(0));
    std::string copy(text.size(), '\0');
    for (auto _ : state) {
        std::memcpy(copy.data(), text.data(), text.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// 0 stands for the largest real-world file we have (nine accounts, 1.4 KB).
#define SIZES ->Arg(0)->Arg(1 << 20)->Arg(16 << 20)->Arg(64 << 20)
BENCHMARK(Rewrite) SIZES;
BENCHMARK(Memcpy) SIZES;

}  // namespace

BENCHMARK_MAIN();
