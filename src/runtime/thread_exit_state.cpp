#include "runtime/thread_exit_state.h"

#include <initializer_list>

#include "runtime/linked_list.h"

namespace dovemarl::runtime::watchers {

namespace {

// How long a watcher whose last thread has ended waits to be taken up before
// it retires (see ParkUntilReused).
constexpr DWORD DefaultIdleLimitMs = 250;

} // namespace

// The lock is made on first use and deleted by the stop.
volatile LONG WatcherLockState = LockNotMade;
CRITICAL_SECTION WatcherLock;
HANDLE NeverSignalled = nullptr;
Watcher* WatcherList = nullptr;
Watcher* EndedList = nullptr;
Watcher* RetiredList = nullptr;
bool Stopping = false;
volatile DWORD IdleLimitMs = DefaultIdleLimitMs;

// Two threads registering their first hooks at once make the lock only once:
// the first one makes it, the other waits until it is made.
bool EnsureWatcherLock() {
    if (InterlockedCompareExchange(&WatcherLockState, LockBeingMade, LockNotMade) == LockNotMade) {
        InitializeCriticalSection(&WatcherLock);
        NeverSignalled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        InterlockedExchange(&WatcherLockState, LockMade);
    }
    while (WatcherLockState == LockBeingMade) {
        SwitchToThread();
    }
    return WatcherLockState == LockMade && NeverSignalled != nullptr;
}

bool WatcherLockMade() {
    return WatcherLockState == LockMade;
}

bool HoldsWatcherLock() {
    return WatcherLock.OwningThread ==
           reinterpret_cast<HANDLE>(static_cast<uintptr_t>(GetCurrentThreadId()));
}

// From here on no registration takes the watcher up; its thread returns from
// its procedure (see ParkUntilReused), and the record stays on RetiredList,
// where a stop can still find the thread, until ForgetEndingWatcher sees it go.
void RetireWatcher(Watcher* watcher) {
    DOVEMARL_INVARIANT(HoldsWatcherLock());
    DOVEMARL_INVARIANT(watcher->ended && !watcher->retiring);
    Unlink(EndedList, watcher);
    watcher->retiring = true;
    PushFront(RetiredList, watcher);
}

void CloseWatcherHandles(Watcher* watcher) {
    for (HANDLE handle : {watcher->thread, watcher->parked, watcher->running, watcher->semaphore}) {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
    for (LONG i = 1; i < watcher->count; ++i) {
        CloseHandle(watcher->handles[i]);
    }
}

bool FindWatchedThread(DWORD threadId, Watcher** found, LONG* index) {
    DOVEMARL_INVARIANT(HoldsWatcherLock());
    for (Watcher* watcher = WatcherList; watcher != nullptr; watcher = watcher->next) {
        for (LONG i = 1; i < watcher->count; ++i) {
            if (watcher->threadIds[i] == threadId) {
                *found = watcher;
                *index = i;
                return true;
            }
        }
    }
    return false;
}

} // namespace dovemarl::runtime::watchers
