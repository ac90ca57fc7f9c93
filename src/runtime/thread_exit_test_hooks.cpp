// What tests see of the watchers: the test build only.
#ifdef DOVEMARL_TEST_BUILD

#include "runtime/thread_exit_state.h"

namespace dovemarl::runtime {

using watchers::Watcher;
using watchers::WatcherLock;

void SetWatcherIdleLimit(uint32_t milliseconds) {
    watchers::IdleLimitMs = milliseconds;
}

int WatchedThreadCounts(int* counts, int capacity) {
    if (!watchers::WatcherLockMade()) {
        return 0;
    }
    EnterCriticalSection(&WatcherLock);
    int found = 0;
    for (Watcher* watcher = watchers::WatcherList; watcher != nullptr; watcher = watcher->next) {
        if (found < capacity) {
            counts[found] = watcher->count - 1;
        }
        ++found;
    }
    LeaveCriticalSection(&WatcherLock);
    return found;
}

int EndedWatcherCount(int* parked) {
    *parked = 0;
    if (!watchers::WatcherLockMade()) {
        return 0;
    }
    EnterCriticalSection(&WatcherLock);
    int ended = 0;
    for (Watcher* watcher = watchers::EndedList; watcher != nullptr; watcher = watcher->next) {
        ++ended;
        *parked += WaitForSingleObject(watcher->parked, 0) == WAIT_OBJECT_0;
    }
    LeaveCriticalSection(&WatcherLock);
    return ended;
}

int RetiredWatcherCount() {
    if (!watchers::WatcherLockMade()) {
        return 0;
    }
    EnterCriticalSection(&WatcherLock);
    int retired = 0;
    for (Watcher* watcher = watchers::RetiredList; watcher != nullptr; watcher = watcher->next) {
        ++retired;
    }
    LeaveCriticalSection(&WatcherLock);
    return retired;
}

void* WatchedThreadHandle(uint32_t threadId) {
    if (!watchers::WatcherLockMade()) {
        return nullptr;
    }
    EnterCriticalSection(&WatcherLock);
    Watcher* watcher = nullptr;
    LONG index = 0;
    void* handle =
        watchers::FindWatchedThread(threadId, &watcher, &index) ? watcher->handles[index] : nullptr;
    LeaveCriticalSection(&WatcherLock);
    return handle;
}

} // namespace dovemarl::runtime

#endif
