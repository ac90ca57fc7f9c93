#pragma once
// Counting what a process holds, for leak checks. GetProcessHandleCount
// answers 0 under Wine, so handles are counted by probing the handle table.
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace testing_support {

int CountOpenHandles();
// The handles open now that are not among before (standin::OpenHandles) and
// the kinds of object they are ("0x1a4 Event, 0x1b0 Thread"), for saying
// which handles a count found over.
std::string DescribeHandlesNotIn(const std::vector<HANDLE>& before);
// Top-level windows of this process (hidden ones included), and its threads.
int CountWindows();
int CountThreads();

// The threads of this process, still running, whose start address lies in
// module's image (a DLL's own threads, such as its watchers).
std::vector<DWORD> RunningThreadsStartedIn(HMODULE module);

// The full paths of the modules loaded in this process, lower case, sorted.
std::vector<std::string> LoadedModules();
// Whether path (lower case) names a file in the system folder of 32-bit
// programs (under WoW64: SysWOW64, where the system sends them).
bool InSystemFolder(const std::string& path);

struct HeapUsage {
    size_t blocks = 0;
    size_t bytes = 0;
    bool operator==(const HeapUsage&) const = default;
};
HeapUsage UsageOf(HANDLE heap);

// Private memory of the process: committed, and committed plus reserved
// (address space, which a thread's stack takes whole). The system's own
// PrivateUsage figure is given beside them; it reads 0 under Wine.
struct PrivateMemory {
    SIZE_T committed = 0;
    SIZE_T addressSpace = 0;
    SIZE_T reported = 0;
};
PrivateMemory MeasurePrivateMemory();

} // namespace testing_support
