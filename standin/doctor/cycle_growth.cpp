#include "cycle_growth.h"

#include <cstdio>

namespace standin {

namespace {

struct Measure {
    const char* name;
    int Census::*field;
    // How much a figure must grow in each half to count: memory comes and goes
    // with the heaps' segments (64 KiB at a time) whether or not anything leaks.
    int leastGrowth;
    const char* harm;
};

constexpr Measure Measures[] = {
    {"handles", &Census::handles, 1, "a host that keeps it runs out of handles"},
    {"threads", &Census::threads, 1, "a host that keeps it runs out of memory for their stacks"},
    {"top-level windows", &Census::topWindows, 1, "each stays in the host's desktop"},
    {"message-only windows", &Census::messageWindows, 1, "each stays in the host's thread"},
    {"loaded modules", &Census::modules, 1, "each stays loaded in the host"},
    {"committed private memory (KiB)", &Census::committedKiB, 256,
     "a host that keeps it runs out of memory"},
    {"private heaps", &Census::heaps, 1, "each keeps its memory in the host"},
    {"TLS slots in use", &Census::tlsSlot, 1,
     "the process has 1088; when they are gone, the host's own DLLs fail to load"},
    {"FLS slots in use", &Census::flsSlot, 1,
     "the process has few; when they are gone, C runtimes fail to start threads"},
    {"global atoms", &Census::atoms, 1,
     "the table of 16384 is shared by the whole session and outlives the host"},
    {"GDI objects", &Census::gdiObjects, 1,
     "a process may hold 10000; then the host can no longer draw"},
};

std::string PerCycle(int growth, int cycles) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f", static_cast<double>(growth) / cycles);
    return text;
}

// The kinds of handle that grew in both halves, with their growth per cycle:
// " (Event +2.00, Thread +1.00)".
std::string HandleKindsGrown(const CycleCensuses& censuses) {
    std::string kinds;
    for (const auto& [kind, last] : censuses.last.handleKinds) {
        auto count = [](const Census& census, const std::string& name) {
            auto found = census.handleKinds.find(name);
            return found == census.handleKinds.end() ? 0 : found->second;
        };
        int first = count(censuses.first, kind);
        int middle = count(censuses.middle, kind);
        if (middle > first && last > middle) {
            kinds +=
                (kinds.empty() ? "" : ", ") + kind + " " + PerCycle(last - first, censuses.cycles);
        }
    }
    return kinds.empty() ? kinds : " (" + kinds + ")";
}

} // namespace

std::string CycleLabel(int number, int warmUps, int cycles) {
    std::string label = number <= warmUps ? "(warm-up " : "";
    label += std::to_string(number <= warmUps ? number : number - warmUps);
    label += number <= warmUps ? ")" : " of " + std::to_string(cycles);
    return label;
}

void ReportGrowth(const CycleCensuses& censuses, const std::string& cycle, LifecycleLog& log) {
    for (const Measure& measure : Measures) {
        int a = censuses.first.*measure.field;
        int b = censuses.middle.*measure.field;
        int c = censuses.last.*measure.field;
        std::string perCycle = PerCycle(c - a, censuses.cycles);
        log.Figure(std::string(measure.name) + " " + std::to_string(a) + " -> " +
                   std::to_string(c) + " (" + perCycle + " per cycle)");
        if (b - a >= measure.leastGrowth && c - b >= measure.leastGrowth) {
            std::string kinds = measure.field == &Census::handles ? HandleKindsGrown(censuses) : "";
            log.Fault(std::string(measure.name) + " grow by " + perCycle + kinds + " per " + cycle +
                      ": " + std::to_string(a) + " -> " + std::to_string(c) + " over " +
                      std::to_string(censuses.cycles) + " cycles, after " +
                      std::to_string(censuses.warmUps) + " to warm up; " + measure.harm);
        }
    }
}

} // namespace standin
