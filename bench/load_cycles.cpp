// Loads and unloads Dovemarl.dll and the empty reference DLL in turn, in a
// process that has loaded what a GUI host has (user32 and gdi32) but, at
// first, not comctl32; then again with comctl32 loaded as well, as some hosts
// have it. Prints one line per round for the benchmark, which starts this
// program so that the cycles run in a process of known libraries.
//   round ours_ms empty_ms handles_before handles_after windows_before
//   windows_after threads_before threads_after
#include <windows.h>

#include <cstdio>
#include <vector>

#include "bench_clock.h"
#include "support/resources.h"

namespace {

constexpr int BareCycles = 200;
constexpr int PreloadedCycles = 1000;
// What a GUI host has loaded before any plug-in.
constexpr const char* HostLibraries[] = {"kernel32.dll", "user32.dll", "gdi32.dll", "msvcrt.dll"};

double CycleMs(const char* name) {
    double start = bench::Now();
    HMODULE module = LoadLibraryA(name);
    FreeLibrary(module);
    return module != nullptr ? (bench::Now() - start) * 1e3 : -1;
}

// Cycles alternate between the two DLLs, so that drift in the machine's load
// hits both alike.
void Round(const char* name, int cycles) {
    // One cycle each first: what the first load does once (Wine's own set-up
    // of a library's dependencies) is not what a cycle costs.
    CycleMs("Dovemarl.dll");
    CycleMs("empty.dll");
    // Handles last: the first enumeration of windows sets up the display
    // connection, whose handles are then open before as after.
    int windows = testing_support::CountWindows();
    int threads = testing_support::CountThreads();
    int handles = testing_support::CountOpenHandles();
    std::vector<double> ours;
    std::vector<double> empty;
    for (int i = 0; i < cycles; ++i) {
        ours.push_back(CycleMs("Dovemarl.dll"));
        empty.push_back(CycleMs("empty.dll"));
        if (ours.back() < 0 || empty.back() < 0) {
            std::printf("%s load-failed\n", name);
            return;
        }
    }
    int windowsAfter = testing_support::CountWindows();
    int threadsAfter = testing_support::CountThreads();
    int handlesAfter = testing_support::CountOpenHandles();
    std::printf("%s %.4f %.4f %d %d %d %d %d %d\n", name, bench::Median(ours), bench::Median(empty),
                handles, handlesAfter, windows, windowsAfter, threads, threadsAfter);
}

} // namespace

int main() {
    for (const char* library : HostLibraries) {
        LoadLibraryA(library);
    }
    if (GetModuleHandleA("comctl32.dll") != nullptr) {
        std::printf("bare comctl32-already-loaded\n");
    } else {
        Round("bare", BareCycles);
    }
    LoadLibraryA("comctl32.dll");
    Round("preloaded", PreloadedCycles);
    return 0;
}
