#pragma once
// Counting what a process holds, for leak checks. GetProcessHandleCount
// answers 0 under Wine, so handles are counted by probing the handle table.
#include <windows.h>

#include <cstddef>

namespace testing_support {

int CountOpenHandles();
// Top-level windows of this process (hidden ones included), and its threads.
int CountWindows();
int CountThreads();

struct HeapUsage {
    size_t blocks = 0;
    size_t bytes = 0;
    bool operator==(const HeapUsage&) const = default;
};
HeapUsage UsageOf(HANDLE heap);

} // namespace testing_support
