#pragma once
// Counting what a process holds, for leak checks. GetProcessHandleCount
// answers 0 under Wine, so handles are counted by probing the handle table.
#include <windows.h>

#include <cstddef>

namespace testing_support {

int CountOpenHandles();

struct HeapUsage {
    size_t blocks = 0;
    size_t bytes = 0;
    bool operator==(const HeapUsage&) const = default;
};
HeapUsage UsageOf(HANDLE heap);

// Polls condition every few milliseconds, pumping this thread's messages;
// false if it is still not true after timeoutMs.
template <typename Condition> bool WaitUntil(Condition condition, DWORD timeoutMs = 10000) {
    for (DWORD start = GetTickCount(); !condition(); Sleep(2)) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
    }
    return true;
}

} // namespace testing_support
