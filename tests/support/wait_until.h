#pragma once
// Waiting for a condition that another thread or the system makes true.
#include <windows.h>

namespace testing_support {

// Polls condition every few milliseconds; false if it is still not true after
// timeoutMs. A condition that needs this thread's messages pumps them itself.
template <typename Condition> bool WaitUntil(Condition condition, DWORD timeoutMs = 10000) {
    for (DWORD start = GetTickCount(); !condition(); Sleep(2)) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
    }
    return true;
}

} // namespace testing_support
