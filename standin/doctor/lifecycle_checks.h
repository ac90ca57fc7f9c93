#pragma once
// The lifecycle checks, each run by the doctor in a process of its own (the
// stand-in host started with --lifecycle-check NAME). Each writes what it
// finds to its log (see lifecycle_log.h) and returns the process's exit
// status: 0 when it ran to the end, whatever it found.
#include <string>

#include "lifecycle_log.h"

namespace standin {

struct CheckRequest {
    std::string plugin; // the plug-in's full path
    int cycles = 0;     // load and unload cycles of the load-cycles check
};

// The entry point under the loader lock: what the load pulls in, and whether
// attach made a window or a thread.
int CheckAttach(const CheckRequest& request, LifecycleLog& log);
// Loads and unloads without a call, and measures the growth per cycle.
int CheckLoadCycles(const CheckRequest& request, LifecycleLog& log);
// One full run, then an unload from another thread; what is left behind.
int CheckRunAndUnload(const CheckRequest& request, LifecycleLog& log);
// Full runs again and again, and the growth per run.
int CheckRunCycles(const CheckRequest& request, LifecycleLog& log);
inline constexpr int RunCyclesWarmUp = 1;
inline constexpr int RunCyclesMeasured = 4;

// Names the checks go by on the command line, in the order the doctor runs
// them; RunCheck runs one by name (1 for an unknown name).
inline constexpr const char* CheckNames[] = {"attach", "load-cycles", "run-unload", "run-cycles"};
int RunCheck(const std::string& name, const CheckRequest& request, LifecycleLog& log);

} // namespace standin
