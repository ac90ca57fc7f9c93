#pragma once
// What the parts of thread-exit cleanup share: the watcher record, the lists
// and the lock. For thread_exit_registration.cpp, watcher.cpp,
// thread_exit_stop.cpp and the test hooks only.
//
// Kept under WatcherLock, checked where each is changed:
// - A watcher is on exactly one list: WatcherList while it watches ("ended"
//   and "retiring" clear), EndedList from the end of its last thread until a
//   registration takes it up ("ended"), RetiredList from when it gives up
//   waiting until its thread is out of the module ("retiring").
// - Entry 0 of a watcher's arrays is its semaphore; entries 1 to count - 1 are
//   the watched threads. Registrations only append (the count published after
//   the entry), and only the watcher's own thread removes entries.
// - Once Stopping is set, nothing registers and "started" no longer changes.
#include <windows.h>

#include "runtime/invariant.h"
#include "runtime/thread_exit.h"

namespace dovemarl::runtime::watchers {

// One hook of one watched thread; a thread's hooks are a list, newest first.
struct ExitHook {
    ExitHook* next;
    ExitHookFunction function;
    uintptr_t argument;
};

constexpr int WaitSlots = MAXIMUM_WAIT_OBJECTS; // 64
constexpr LONG WatcherCapacity = 63;            // wait handles in use, the semaphore included

struct Watcher {
    Watcher* next;
    Watcher* prev;
    HANDLE semaphore; // wakes the watcher when its entries change
    volatile LONG count;
    HANDLE handles[WaitSlots];
    DWORD threadIds[WaitSlots];
    ExitHook* hooks[WaitSlots];
    HANDLE thread; // kept so that a stop can end the thread
    DWORD threadId;
    // Set by the thread as it waits in Park or ParkUntilReused: from then on it
    // runs no module code until the wait returns.
    HANDLE parked;
    HANDLE running;        // set by the thread when it first runs; the starter closes it
    bool started;          // the thread took the lock before any stop request
    bool ended;            // on EndedList
    bool retiring;         // on RetiredList
    volatile LONG leaving; // set by a retired thread as the last thing it does
    bool waitForPark;      // decided by a stop under the lock
    bool endsAlone;        // a stop found it past the module's code
};

enum : LONG { LockNotMade, LockBeingMade, LockMade, LockRetired };
extern volatile LONG WatcherLockState;
extern CRITICAL_SECTION WatcherLock;
extern HANDLE NeverSignalled; // where parked watcher threads wait for good
extern Watcher* WatcherList;  // newest first
extern Watcher* EndedList;
extern Watcher* RetiredList;
extern bool Stopping;
extern volatile DWORD IdleLimitMs;

// Makes the lock (and NeverSignalled) on first use; false when they could not
// be made or the watchers have been stopped.
bool EnsureWatcherLock();
bool WatcherLockMade();
// Whether the calling thread holds WatcherLock, for checks.
bool HoldsWatcherLock();

// Moves an ended watcher to RetiredList. Under the lock.
void RetireWatcher(Watcher* watcher);
// Closes what a watcher held, its own thread's handle included.
void CloseWatcherHandles(Watcher* watcher);
// The watcher on WatcherList that watches threadId and the entry's index.
// Under the lock.
bool FindWatchedThread(DWORD threadId, Watcher** found, LONG* index);

// The watcher thread's procedure (watcher.cpp).
DWORD WINAPI WatchThreads(void* argument);
// Frees the records of retired watchers whose threads have ended without a
// thread-detach notification reaching the module. Under the lock.
void ReleaseEndedRetirees();

} // namespace dovemarl::runtime::watchers
