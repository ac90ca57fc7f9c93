#pragma once
// Deadlines for the waits of an unload, as GetTickCount values; the
// comparisons hold across the counter's wrap.
#include <windows.h>

namespace dovemarl::runtime {

inline DWORD DeadlineAfter(DWORD milliseconds) {
    return GetTickCount() + milliseconds;
}

// 0 once the deadline has passed.
inline DWORD MillisecondsLeft(DWORD deadline) {
    LONG left = static_cast<LONG>(deadline - GetTickCount());
    return left > 0 ? static_cast<DWORD>(left) : 0;
}

inline bool DeadlinePassed(DWORD deadline) {
    return MillisecondsLeft(deadline) == 0;
}

// Waits for handle, but no later than the deadline.
inline void WaitUntilDeadline(HANDLE handle, DWORD deadline) {
    WaitForSingleObject(handle, MillisecondsLeft(deadline));
}

// Looks every millisecond whether done() holds: true once it does, false when
// the deadline passes first. For states no handle signals.
template <typename Condition> bool PollUntil(DWORD deadline, Condition done) {
    for (;;) {
        if (done()) {
            return true;
        }
        if (DeadlinePassed(deadline)) {
            return false;
        }
        Sleep(1);
    }
}

} // namespace dovemarl::runtime
