// A watcher thread's life: it waits for its threads to end and runs their
// hooks, waits to be taken up again once its last thread has ended, and
// retires, or parks for good when a stop comes.
#include "runtime/heaps.h"
#include "runtime/linked_list.h"
#include "runtime/thread_exit_state.h"

namespace dovemarl::runtime::watchers {

namespace {

constexpr DWORD FailedWaitBackoffMs = 50;
// The exit code of a watcher that returned after retiring (a stop ends one
// with StoppedExitCode).
constexpr DWORD RetiredExitCode = 0;

// Takes entry index out of the arrays and returns its hooks. Under the lock,
// on the watcher's own thread.
ExitHook* RemoveEntry(Watcher* watcher, LONG index) {
    DOVEMARL_INVARIANT(HoldsWatcherLock() && GetCurrentThreadId() == watcher->threadId);
    DOVEMARL_INVARIANT(index >= 1 && index < watcher->count);
    ExitHook* hooks = watcher->hooks[index];
    LONG count = watcher->count;
    for (LONG i = index; i + 1 < count; ++i) {
        watcher->handles[i] = watcher->handles[i + 1];
        watcher->threadIds[i] = watcher->threadIds[i + 1];
        watcher->hooks[i] = watcher->hooks[i + 1];
    }
    watcher->handles[count - 1] = nullptr;
    watcher->threadIds[count - 1] = 0;
    watcher->hooks[count - 1] = nullptr;
    InterlockedExchange(&watcher->count, count - 1);
    return hooks;
}

// Frees a thread's hooks, newest first, running each one first if asked to.
void DisposeHooks(ExitHook* hook, bool run) {
    while (hook != nullptr) {
        ExitHook* next = hook->next;
        if (run) {
            hook->function(hook->argument);
        }
        FreeRecord(hook);
        hook = next;
    }
}

// The thread stops running module code here, for good: signalling and waiting
// are one system call, so once "parked" is seen set the thread is inside the
// kernel, and a stop may end it with TerminateThread, which needs no loader
// lock.
[[noreturn]] void Park(Watcher* watcher) {
    for (;;) {
        SignalObjectAndWait(watcher->parked, NeverSignalled, INFINITE, FALSE);
        Sleep(INFINITE);
    }
}

// Waits to be taken up by a registration (true) or, after IdleLimitMs without
// one, retires (false): the thread then returns from its procedure, which ends
// it with every thread-detach notification and gives its stack back, both of
// which TerminateThread would skip. Only a taker (after clearing "ended") or a
// trim (after retiring it) releases an ended watcher's semaphore, so a count
// found here under the lock is a leftover and is drained. A stop that comes
// while "parked" is set may end the thread at any point up to the lock.
bool ParkUntilReused(Watcher* watcher) {
    DWORD endedAt = GetTickCount();
    DWORD limit = IdleLimitMs;
    for (;;) {
        EnterCriticalSection(&WatcherLock);
        if (Stopping) {
            LeaveCriticalSection(&WatcherLock);
            Park(watcher);
        }
        if (!watcher->ended) {
            ResetEvent(watcher->parked);
            LeaveCriticalSection(&WatcherLock);
            return true;
        }
        DWORD idle = GetTickCount() - endedAt;
        if (!watcher->retiring && idle >= limit) {
            RetireWatcher(watcher);
        }
        if (watcher->retiring) {
            // Nothing waits on these any more; the thread handle stays for a
            // stop that comes before the thread is out of the module.
            CloseHandle(watcher->semaphore);
            CloseHandle(watcher->parked);
            watcher->semaphore = watcher->parked = nullptr;
            LeaveCriticalSection(&WatcherLock);
            return false;
        }
        WaitForSingleObject(watcher->semaphore, 0);
        LeaveCriticalSection(&WatcherLock);
        DWORD result =
            SignalObjectAndWait(watcher->parked, watcher->semaphore, limit - idle, FALSE);
        if (result == WAIT_FAILED) {
            Sleep(FailedWaitBackoffMs); // the semaphore is broken: look again later
        }
    }
}

// A wait failed because a handle was closed behind the watcher's back. Such a
// thread can no longer be watched: its entry is dropped without running its
// hooks (the thread may still use the state they would free). A broken
// semaphore is replaced. Under the lock; false when no handle was at fault,
// and the caller then backs off instead of spinning.
bool DropInvalidHandles(Watcher* watcher) {
    bool found = false;
    if (WaitForSingleObject(watcher->semaphore, 0) == WAIT_FAILED) {
        HANDLE fresh = CreateSemaphoreA(nullptr, 0, 1, nullptr);
        if (fresh != nullptr) {
            watcher->semaphore = watcher->handles[0] = fresh;
            found = true;
        }
    }
    for (LONG i = watcher->count - 1; i >= 1; --i) {
        if (WaitForSingleObject(watcher->handles[i], 0) == WAIT_FAILED) {
            DisposeHooks(RemoveEntry(watcher, i), false);
            found = true;
        }
    }
    return found;
}

// A watcher whose last thread is gone moves to EndedList. Under the lock.
void EndWatcher(Watcher* watcher) {
    DOVEMARL_INVARIANT(HoldsWatcherLock());
    DOVEMARL_INVARIANT(!watcher->ended && !watcher->retiring && watcher->count == 1);
    watcher->ended = true;
    Unlink(WatcherList, watcher);
    PushFront(EndedList, watcher);
}

// The index of the entry a wait result names: 0 for the semaphore or a failed
// wait, whose caller looks at the handles (see DropInvalidHandles).
LONG SignalledEntry(DWORD result, LONG count) {
    if (result < WAIT_OBJECT_0 + static_cast<DWORD>(count)) {
        return static_cast<LONG>(result - WAIT_OBJECT_0);
    }
    if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + static_cast<DWORD>(count)) {
        return static_cast<LONG>(result - WAIT_ABANDONED_0);
    }
    return 0;
}

} // namespace

DWORD WINAPI WatchThreads(void* argument) {
    auto* watcher = static_cast<Watcher*>(argument);
    EnterCriticalSection(&WatcherLock);
    bool stopping = Stopping;
    watcher->started = !stopping;
    if (watcher->running != nullptr) {
        SetEvent(watcher->running);
    }
    LeaveCriticalSection(&WatcherLock);
    if (stopping) {
        Park(watcher);
    }
    for (;;) {
        // Only this thread removes entries, so what the wait saw stays valid
        // until it is handled.
        LONG count = watcher->count;
        DWORD result =
            WaitForMultipleObjects(static_cast<DWORD>(count), watcher->handles, FALSE, INFINITE);
        EnterCriticalSection(&WatcherLock);
        if (Stopping) {
            LeaveCriticalSection(&WatcherLock);
            Park(watcher);
        }
        DOVEMARL_INVARIANT(watcher->handles[0] == watcher->semaphore && watcher->count >= count);
        LONG index = SignalledEntry(result, count);
        bool backOff = result == WAIT_FAILED && !DropInvalidHandles(watcher);
        ExitHook* hooks = nullptr;
        if (index > 0) {
            CloseHandle(watcher->handles[index]);
            hooks = RemoveEntry(watcher, index);
        }
        bool ending = watcher->count == 1;
        if (ending) {
            EndWatcher(watcher);
        }
        LeaveCriticalSection(&WatcherLock);
        DisposeHooks(hooks, true);
        if (backOff) {
            Sleep(FailedWaitBackoffMs);
        }
        if (ending && !ParkUntilReused(watcher)) {
            // Nothing but this function's own return follows (see
            // LeftTheModule); ForgetEndingWatcher takes the record.
            InterlockedExchange(&watcher->leaving, 1);
            return RetiredExitCode;
        }
    }
}

void ReleaseEndedRetirees() {
    DOVEMARL_INVARIANT(HoldsWatcherLock());
    for (Watcher* watcher = RetiredList; watcher != nullptr;) {
        Watcher* next = watcher->next;
        if (WaitForSingleObject(watcher->thread, 0) == WAIT_OBJECT_0) {
            Unlink(RetiredList, watcher);
            CloseWatcherHandles(watcher);
            FreeRecord(watcher);
        }
        watcher = next;
    }
}

} // namespace dovemarl::runtime::watchers

namespace dovemarl::runtime {

// At the thread-detach notification of a retired watcher's thread, the thread
// has left the module's code for good.
void ForgetEndingWatcher() {
    using watchers::RetiredList;
    using watchers::WatcherLock;
    if (!watchers::WatcherLockMade() ||
        __atomic_load_n(&RetiredList, __ATOMIC_RELAXED) == nullptr) {
        return; // no watcher is leaving: the common case, at every thread's end
    }
    DWORD self = GetCurrentThreadId();
    EnterCriticalSection(&WatcherLock);
    for (watchers::Watcher* watcher = RetiredList; watcher != nullptr; watcher = watcher->next) {
        if (watcher->threadId == self) {
            DOVEMARL_INVARIANT(watcher->leaving != 0);
            Unlink(RetiredList, watcher);
            watchers::CloseWatcherHandles(watcher);
            FreeRecord(watcher);
            break;
        }
    }
    LeaveCriticalSection(&WatcherLock);
}

} // namespace dovemarl::runtime
