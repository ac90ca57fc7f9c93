#pragma once
// What grows with every cycle of a check that repeats one thing (a load and
// unload, a full run): the figures of the censuses taken after the warm-up
// cycles, half-way and at the end. What a first cycle keeps for good (a system
// DLL pinned, a lazily made system resource) is no leak, so a figure counts as
// growth only when it grew in both halves of the measured cycles: a leak grows
// with every cycle, a one-time cost once.
#include <string>

#include "lifecycle_log.h"
#include "resource_census.h"

namespace standin {

struct CycleCensuses {
    Census first;  // after the warm-up cycles
    Census middle; // after half the measured cycles
    Census last;
    int cycles = 0; // measured
    int warmUps = 0;
};

// How the log names cycle number (from 1, the warm-ups first): "(warm-up 1)",
// "3 of 12".
std::string CycleLabel(int number, int warmUps, int cycles);

// Writes a figure per count and a fault per count that grew. cycle names one
// cycle in the fault ("load and unload without a call").
void ReportGrowth(const CycleCensuses& censuses, const std::string& cycle, LifecycleLog& log);

} // namespace standin
