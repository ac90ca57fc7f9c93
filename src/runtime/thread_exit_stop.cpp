// Stopping the watchers at unload. DLL_PROCESS_DETACH holds the loader lock,
// which a thread needs to finish exiting, so the stop never waits for a
// watcher's thread to end. It asks every watcher to stop; each acknowledges by
// parking (see Park), and a parked thread, inside a system call for good, is
// ended with TerminateThread, which needs no loader lock. A retired watcher
// past its last wait is left to end by itself (see LeftTheModule). No hook
// runs after the stop: their state goes with the heaps right after.
#include <initializer_list>

#include "runtime/deadline.h"
#include "runtime/linked_list.h"
#include "runtime/module_image.h"
#include "runtime/thread_exit_state.h"

namespace dovemarl::runtime {

namespace {

using watchers::Watcher;
using watchers::WatcherLock;

// All watchers share one time limit to park or leave, and then one to end.
constexpr DWORD ParkTimeoutMs = 5000;
constexpr DWORD TerminateTimeoutMs = 2000;
// How long a watcher that has not run yet gets to come through the system's
// thread start-up and park (under the loader lock it cannot, and is ended in
// the start-up).
constexpr DWORD StartGraceMs = 100;
constexpr DWORD StoppedExitCode = 1;

// A retired watcher's thread returns from its procedure on its own. The stop
// cannot wait for that end (it needs the loader lock), and ending the thread
// from outside might catch it inside the system's thread exit holding a lock of
// the system's; so it waits until the thread has set "leaving" and its next
// instruction lies outside the module. False when the deadline passes first.
bool LeftTheModule(Watcher* watcher, DWORD deadline) {
    return PollUntil(deadline, [watcher] {
        return WaitForSingleObject(watcher->thread, 0) == WAIT_OBJECT_0 ||
               (watcher->leaving != 0 && !ThreadExecutingInModule(watcher->thread));
    });
}

// Takes every watcher off its list onto one, asking each that still watches to
// stop. Under the lock, with Stopping set.
Watcher* CollectWatchers() {
    Watcher* stopping = nullptr;
    for (Watcher** list : {&watchers::WatcherList, &watchers::EndedList, &watchers::RetiredList}) {
        while (Watcher* watcher = *list) {
            Unlink(*list, watcher);
            if (!watcher->ended) {
                ReleaseSemaphore(watcher->semaphore, 1, nullptr);
            }
            // A retired watcher that has closed its "parked" event is past its
            // last wait.
            watcher->waitForPark = watcher->started && watcher->parked != nullptr;
            PushFront(stopping, watcher);
        }
    }
    return stopping;
}

} // namespace

void StopThreadExit() {
    if (!watchers::WatcherLockMade()) {
        return;
    }
    EnterCriticalSection(&WatcherLock);
    watchers::Stopping = true;
    Watcher* stopping = CollectWatchers();
    LeaveCriticalSection(&WatcherLock);

    DWORD deadline = DeadlineAfter(ParkTimeoutMs);
    for (Watcher* watcher = stopping; watcher != nullptr; watcher = watcher->next) {
        if (watcher->waitForPark) {
            WaitUntilDeadline(watcher->parked, deadline);
        } else if (!watcher->started) {
            WaitUntilDeadline(watcher->parked, DeadlineAfter(StartGraceMs));
        } else if (LeftTheModule(watcher, deadline)) {
            watcher->endsAlone = true;
            continue;
        }
        // Parked, or out of time: a stuck watcher must not hang the unload.
        TerminateThread(watcher->thread, StoppedExitCode);
    }
    deadline = DeadlineAfter(TerminateTimeoutMs);
    for (Watcher* watcher = stopping; watcher != nullptr; watcher = watcher->next) {
        // One that ends by itself may need the loader lock to finish.
        if (!watcher->endsAlone) {
            WaitUntilDeadline(watcher->thread, deadline);
        }
        watchers::CloseWatcherHandles(watcher);
    }
    // The records go with MainHeap; the lock and the event live no longer
    // than the module does.
    DeleteCriticalSection(&WatcherLock);
    CloseHandle(watchers::NeverSignalled);
    watchers::NeverSignalled = nullptr;
    InterlockedExchange(&watchers::WatcherLockState, watchers::LockRetired);
}

void StartThreadExit() {
    InterlockedExchange(&watchers::WatcherLockState, watchers::LockNotMade);
    watchers::WatcherList = watchers::EndedList = watchers::RetiredList = nullptr;
    watchers::Stopping = false;
}

} // namespace dovemarl::runtime
