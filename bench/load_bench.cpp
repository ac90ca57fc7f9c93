#include "load_bench.h"

#include <windows.h>

#include "bench_clock.h"
#include "support/resources.h"

namespace bench {

namespace {

constexpr int Cycles = 1000;
// The libraries both DLLs import, loaded first as a host has them.
constexpr const char* SystemLibraries[] = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll",
                                           "comctl32.dll"};

struct Counts {
    int handles;
    int windows;
    int threads;
};

Counts CountNow() {
    return {testing_support::CountOpenHandles(), testing_support::CountWindows(),
            testing_support::CountThreads()};
}

double CycleMs(const char* name) {
    double start = Now();
    HMODULE module = LoadLibraryA(name);
    FreeLibrary(module);
    return module != nullptr ? (Now() - start) * 1e3 : -1;
}

} // namespace

std::vector<Row> LoadBenchmarks() {
    for (const char* library : SystemLibraries) {
        LoadLibraryA(library);
    }
    // One cycle each first: what the first load does once (Wine's own
    // set-up of a library's dependencies) is not what a cycle costs.
    CycleMs("Dovemarl.dll");
    CycleMs("empty.dll");
    Counts before = CountNow();
    std::vector<double> ours;
    std::vector<double> empty;
    bool loaded = true;
    // Alternating, so that drift in the machine's load hits both alike.
    for (int i = 0; i < Cycles && loaded; ++i) {
        ours.push_back(CycleMs("Dovemarl.dll"));
        empty.push_back(CycleMs("empty.dll"));
        loaded = ours.back() >= 0 && empty.back() >= 0;
    }
    Counts after = CountNow();
    double ratio = Median(empty) > 0 ? Median(ours) / Median(empty) : 0;
    std::vector<Row> rows;
    rows.push_back(
        {"LoadLibrary + FreeLibrary, median of " + std::to_string(Cycles) + " cycles",
         loaded ? Format(Median(ours), 2, " ms") : "load failed",
         Format(Median(empty), 2, " ms") + " (empty DLL; ratio " + Format(ratio, 2) + ")",
         "ratio <= 1.3", loaded && ratio <= 1.3});
    int handleGrowth = after.handles - before.handles;
    int windowGrowth = after.windows - before.windows;
    int threadGrowth = after.threads - before.threads;
    rows.push_back({"Handles / windows / threads after the cycles",
                    std::to_string(after.handles) + " / " + std::to_string(after.windows) + " / " +
                        std::to_string(after.threads),
                    std::to_string(before.handles) + " / " + std::to_string(before.windows) +
                        " / " + std::to_string(before.threads) + " before",
                    "growth 0", handleGrowth <= 0 && windowGrowth <= 0 && threadGrowth <= 0});
    return rows;
}

} // namespace bench
