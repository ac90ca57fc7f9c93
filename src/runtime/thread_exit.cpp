#include "runtime/thread_exit.h"

#include <windows.h>

#include <initializer_list>

#include "runtime/heaps.h"
#include "runtime/linked_list.h"

namespace dovemarl::runtime {

namespace {

// One hook of one watched thread; a thread's hooks are a list, newest first.
struct ExitHook {
    ExitHook* next;
    ExitHookFunction function;
    uintptr_t argument;
};

constexpr int WaitSlots = MAXIMUM_WAIT_OBJECTS; // 64
constexpr LONG WatcherCapacity = 63;            // wait handles in use, the semaphore included
// A watcher's stack: its hooks only give records back to the heaps. The whole
// reservation is what a watcher ended by TerminateThread leaves behind, and
// the default for this process would be the host's (often 1 MiB or more).
constexpr DWORD WatcherStackReserve = 64 * 1024;
constexpr DWORD ParkTimeoutMs = 5000;
constexpr DWORD TerminateTimeoutMs = 2000;
constexpr DWORD FailedWaitBackoffMs = 50;
// Parked watchers kept for later registrations to take up again (see
// ReapEndedWatchers); 8 of them watch up to 496 threads.
constexpr int SpareWatcherLimit = 8;

// Entry 0 of the arrays holds the wake-up semaphore; entries 1 to count - 1
// hold the watched threads. A watcher is on WatcherList while it watches and
// on EndedList once its last thread is gone; "ended" tells which, under the
// lock.
struct Watcher {
    Watcher* next;
    Watcher* prev;
    HANDLE semaphore;
    volatile LONG count;
    HANDLE handles[WaitSlots];
    DWORD threadIds[WaitSlots];
    ExitHook* hooks[WaitSlots];
    // How the watcher's own thread is retired (see StopThreadExit).
    HANDLE thread;
    HANDLE parked; // set by the thread as it waits in Park or ParkUntilReused
    bool started;  // the thread has taken the lock before the stop request
    bool ended;
    bool waitForPark; // decided under the lock when the watchers are retired
};

// The watcher lock is made on first use and deleted when the watchers are
// retired at detach.
enum : LONG { LockNotMade, LockBeingMade, LockMade, LockRetired };
volatile LONG WatcherLockState = LockNotMade;
CRITICAL_SECTION WatcherLock;
HANDLE NeverSignalled = nullptr; // where parked watcher threads wait for good
Watcher* WatcherList = nullptr;  // watchers with threads to watch, newest first
Watcher* EndedList = nullptr;    // watchers whose last thread ended, parked or parking
bool Stopping = false;

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

// Waits for handle, but no later than deadline (a GetTickCount value).
void WaitUntilDeadline(HANDLE handle, DWORD deadline) {
    LONG left = static_cast<LONG>(deadline - GetTickCount());
    WaitForSingleObject(handle, left > 0 ? static_cast<DWORD>(left) : 0);
}

// Takes entry index out of the arrays and returns its hooks. Under the lock.
ExitHook* RemoveEntry(Watcher* watcher, LONG index) {
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

// The watcher's thread stops running module code here, for good. Signalling
// and waiting are one system call, so once "parked" is seen set the thread is
// inside the kernel and will never return into the module; whoever retires it
// may then end it with TerminateThread, which runs no DLL notifications and so
// needs no loader lock.
[[noreturn]] void Park(Watcher* watcher) {
    for (;;) {
        SignalObjectAndWait(watcher->parked, NeverSignalled, INFINITE, FALSE);
        Sleep(INFINITE);
    }
}

// A watcher whose last thread has ended waits here until a later
// registration takes it up again (TakeUpWatcher: under the lock it clears
// "ended", gives the watcher a thread and releases the semaphore). Ending the
// thread instead would cost more than the thread: TerminateThread skips every
// DLL's thread-detach notification, and this system does not give back the
// stack of a thread ended that way (10,000 short-lived threads, one after
// another, used up the address space). While "parked" is set the thread is
// inside the wait, as in Park, so it may still be ended there, at detach or
// when there are more spares than SpareWatcherLimit. Only a taker releases an
// ended watcher's semaphore, and only after clearing "ended", so a count
// taken here under the lock is a leftover that would end the wait at once.
// A taker clears "parked" before the wake-up when the thread is in the wait;
// one that takes the watcher up before it got there makes the wait end at
// once, and "parked" is then set for the few steps until the thread clears it
// under the lock here. A stop in those steps ends the thread there; it holds
// nothing but perhaps the lock, which the stop deletes. Returns once taken up.
void ParkUntilReused(Watcher* watcher) {
    for (;;) {
        EnterCriticalSection(&WatcherLock);
        if (Stopping) {
            LeaveCriticalSection(&WatcherLock);
            Park(watcher);
        }
        if (!watcher->ended) {
            ResetEvent(watcher->parked);
            LeaveCriticalSection(&WatcherLock);
            return;
        }
        WaitForSingleObject(watcher->semaphore, 0);
        LeaveCriticalSection(&WatcherLock);
        if (SignalObjectAndWait(watcher->parked, watcher->semaphore, INFINITE, FALSE) !=
            WAIT_OBJECT_0) {
            Sleep(FailedWaitBackoffMs); // the semaphore is broken: look again later
        }
    }
}

// A wait failed: some handle is no longer valid (closed behind the watcher's
// back). Such a thread can no longer be watched: its entry is dropped without
// running its hooks, since its thread may still be alive and using the state
// they would free. A broken semaphore is replaced. Under the lock; false when
// no handle was at fault, and the caller then backs off (after leaving the
// lock) instead of spinning.
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

// A watcher whose last thread is gone leaves the list; its thread parks after
// running the last hooks, until a later registration takes it up again or it
// is ended (see ParkUntilReused). Under the lock.
void EndWatcher(Watcher* watcher) {
    watcher->ended = true;
    Unlink(WatcherList, watcher);
    PushFront(EndedList, watcher);
}

DWORD WINAPI WatchThreads(void* argument) {
    auto* watcher = static_cast<Watcher*>(argument);
    EnterCriticalSection(&WatcherLock);
    bool stopping = Stopping;
    // Set only while no stop has been asked for, so that the retiring code,
    // once it has set the stop flag under the lock, sees its final value.
    watcher->started = !stopping;
    LeaveCriticalSection(&WatcherLock);
    if (stopping) {
        Park(watcher);
    }
    for (;;) {
        // Entries are only appended by others (under the lock) and removed by
        // this thread, so what the wait saw stays valid until it is handled.
        LONG count = watcher->count;
        DWORD result =
            WaitForMultipleObjects(static_cast<DWORD>(count), watcher->handles, FALSE, INFINITE);
        EnterCriticalSection(&WatcherLock);
        if (Stopping) {
            LeaveCriticalSection(&WatcherLock);
            Park(watcher);
        }
        LONG index = 0;
        bool backOff = false;
        if (result < WAIT_OBJECT_0 + static_cast<DWORD>(count)) {
            index = static_cast<LONG>(result - WAIT_OBJECT_0);
        } else if (result >= WAIT_ABANDONED_0 &&
                   result < WAIT_ABANDONED_0 + static_cast<DWORD>(count)) {
            index = static_cast<LONG>(result - WAIT_ABANDONED_0);
        } else if (result == WAIT_FAILED) {
            backOff = !DropInvalidHandles(watcher);
        }
        ExitHook* hooks = nullptr;
        if (index > 0) { // index 0: the semaphore, the set of handles changed
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
        if (ending) {
            ParkUntilReused(watcher);
        }
    }
}

// Closes what a watcher held, its own thread's handle included.
void CloseWatcherHandles(Watcher* watcher) {
    CloseHandle(watcher->thread);
    CloseHandle(watcher->parked);
    if (watcher->semaphore != nullptr) {
        CloseHandle(watcher->semaphore);
    }
    for (LONG i = 1; i < watcher->count; ++i) {
        CloseHandle(watcher->handles[i]);
    }
}

// Ends the threads of parked watchers beyond the SpareWatcherLimit newest,
// which stay for later registrations to take up. Under the lock.
void ReapEndedWatchers() {
    int spares = 0;
    for (Watcher* watcher = EndedList; watcher != nullptr;) {
        Watcher* next = watcher->next;
        if (WaitForSingleObject(watcher->parked, 0) == WAIT_OBJECT_0 &&
            ++spares > SpareWatcherLimit) {
            Unlink(EndedList, watcher);
            TerminateThread(watcher->thread, 0);
            WaitForSingleObject(watcher->thread, TerminateTimeoutMs);
            CloseWatcherHandles(watcher);
            FreeRecord(watcher);
        }
        watcher = next;
    }
}

bool FindWatchedThread(DWORD threadId, Watcher** found, LONG* index) {
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

ExitHook* NewHook(ExitHookFunction function, uintptr_t argument) {
    auto* hook = NewRecord<ExitHook>();
    if (hook != nullptr) {
        hook->function = function;
        hook->argument = argument;
    }
    return hook;
}

// Starts a watcher for one thread. Under the lock; false when anything could
// not be made (then nothing is left behind but the caller's handle).
bool StartWatcher(HANDLE threadHandle, DWORD threadId, ExitHook* hook) {
    auto* watcher = NewRecord<Watcher>();
    if (watcher == nullptr) {
        return false;
    }
    watcher->semaphore = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    watcher->parked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (watcher->semaphore != nullptr && watcher->parked != nullptr) {
        watcher->handles[0] = watcher->semaphore;
        watcher->handles[1] = threadHandle;
        watcher->threadIds[1] = threadId;
        watcher->hooks[1] = hook;
        watcher->count = 2;
        // The handle is kept (not closed at once) so that the thread can be
        // ended when it is retired.
        watcher->thread = CreateThread(nullptr, WatcherStackReserve, WatchThreads, watcher,
                                       STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    }
    if (watcher->thread == nullptr) {
        if (watcher->parked != nullptr) {
            CloseHandle(watcher->parked);
        }
        if (watcher->semaphore != nullptr) {
            CloseHandle(watcher->semaphore);
        }
        FreeRecord(watcher);
        return false;
    }
    PushFront(WatcherList, watcher);
    return true;
}

// Gives an ended watcher, parked or still running its last hooks, one
// thread to watch, and wakes it (see ParkUntilReused): false when there is
// none. Under the lock.
bool TakeUpWatcher(HANDLE threadHandle, DWORD threadId, ExitHook* hook) {
    Watcher* watcher = EndedList;
    if (watcher == nullptr) {
        return false;
    }
    Unlink(EndedList, watcher);
    watcher->ended = false;
    // Set on a watcher still on EndedList only while its thread is in the
    // wait in ParkUntilReused: from the wake-up on it runs module code again.
    ResetEvent(watcher->parked);
    watcher->handles[1] = threadHandle;
    watcher->threadIds[1] = threadId;
    watcher->hooks[1] = hook;
    InterlockedExchange(&watcher->count, 2);
    PushFront(WatcherList, watcher);
    ReleaseSemaphore(watcher->semaphore, 1, nullptr);
    return true;
}

} // namespace

void OnThreadExit(ExitHookFunction function, uintptr_t argument) {
    DWORD threadId = GetCurrentThreadId();
    if (!EnsureWatcherLock()) {
        return;
    }
    EnterCriticalSection(&WatcherLock);
    if (Stopping) {
        LeaveCriticalSection(&WatcherLock);
        return;
    }
    ReapEndedWatchers();

    Watcher* watcher = nullptr;
    LONG index = 0;
    if (FindWatchedThread(threadId, &watcher, &index)) {
        if (ExitHook* hook = NewHook(function, argument)) {
            hook->next = watcher->hooks[index];
            watcher->hooks[index] = hook;
        }
        LeaveCriticalSection(&WatcherLock);
        return;
    }

    HANDLE threadHandle = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                         &threadHandle, SYNCHRONIZE, FALSE, 0)) {
        LeaveCriticalSection(&WatcherLock);
        return;
    }
    ExitHook* hook = NewHook(function, argument); // may be null: the entry is made anyway

    for (watcher = WatcherList; watcher != nullptr; watcher = watcher->next) {
        if (watcher->count < WatcherCapacity) {
            break;
        }
    }
    if (watcher != nullptr) {
        LONG count = watcher->count;
        watcher->handles[count] = threadHandle;
        watcher->threadIds[count] = threadId;
        watcher->hooks[count] = hook;
        InterlockedExchange(&watcher->count, count + 1); // published after the entry
        // Fails harmlessly when already released: the watcher rereads the count.
        ReleaseSemaphore(watcher->semaphore, 1, nullptr);
    } else if (!TakeUpWatcher(threadHandle, threadId, hook) &&
               !StartWatcher(threadHandle, threadId, hook)) {
        CloseHandle(threadHandle);
        FreeRecord(hook);
    }
    LeaveCriticalSection(&WatcherLock);
}

// Retiring the watchers at detach. DLL_PROCESS_DETACH runs under the loader
// lock, and a thread cannot finish exiting without that lock, so waiting here
// for a watcher thread to end would deadlock. Instead every watcher is asked
// to stop (the flag, then the semaphore of each one still watching), and each
// one acknowledges by parking (see Park; an ended watcher parks where it waits
// to be taken up): once it is parked it is ended with TerminateThread, which
// needs no loader lock. A watcher that had not yet taken the lock when the flag was
// set has run nothing but its first instructions (under the loader lock it is
// still inside the system's thread start-up, which waits for that lock); it
// would only park, so it is ended at once. A watcher that does not park in
// time (all share one time limit) is ended anyway rather than hanging the
// host's unload. No hook runs after this: the heaps, and all state the hooks
// would release, are destroyed whole right after.
void StopThreadExit() {
    if (!WatcherLockMade()) {
        return;
    }
    EnterCriticalSection(&WatcherLock);
    Stopping = true;
    Watcher* retiring = nullptr;
    for (Watcher** list : {&WatcherList, &EndedList}) {
        while (Watcher* watcher = *list) {
            Unlink(*list, watcher);
            if (!watcher->ended) {
                ReleaseSemaphore(watcher->semaphore, 1, nullptr);
            }
            // "started" no longer changes: a watcher sets it under the lock,
            // and only while no stop has been asked for.
            watcher->waitForPark = watcher->started;
            PushFront(retiring, watcher);
        }
    }
    LeaveCriticalSection(&WatcherLock);

    DWORD deadline = GetTickCount() + ParkTimeoutMs;
    for (Watcher* watcher = retiring; watcher != nullptr; watcher = watcher->next) {
        if (watcher->waitForPark) {
            WaitUntilDeadline(watcher->parked, deadline);
        }
        TerminateThread(watcher->thread, 0);
    }
    deadline = GetTickCount() + TerminateTimeoutMs;
    for (Watcher* watcher = retiring; watcher != nullptr; watcher = watcher->next) {
        WaitUntilDeadline(watcher->thread, deadline);
        CloseWatcherHandles(watcher);
    }
    // The records go with MainHeap; the lock and the event live no longer
    // than the module does.
    DeleteCriticalSection(&WatcherLock);
    CloseHandle(NeverSignalled);
    NeverSignalled = nullptr;
    InterlockedExchange(&WatcherLockState, LockRetired);
}

void StartThreadExit() {
    InterlockedExchange(&WatcherLockState, LockNotMade);
    WatcherList = EndedList = nullptr;
    Stopping = false;
}

int WatchedThreadCounts(int* counts, int capacity) {
    if (!WatcherLockMade()) {
        return 0;
    }
    EnterCriticalSection(&WatcherLock);
    int watchers = 0;
    for (Watcher* watcher = WatcherList; watcher != nullptr; watcher = watcher->next) {
        if (watchers < capacity) {
            counts[watchers] = watcher->count - 1;
        }
        ++watchers;
    }
    LeaveCriticalSection(&WatcherLock);
    return watchers;
}

int EndedWatcherCount(int* parked) {
    *parked = 0;
    if (!WatcherLockMade()) {
        return 0;
    }
    EnterCriticalSection(&WatcherLock);
    int ended = 0;
    for (Watcher* watcher = EndedList; watcher != nullptr; watcher = watcher->next) {
        ++ended;
        *parked += WaitForSingleObject(watcher->parked, 0) == WAIT_OBJECT_0;
    }
    LeaveCriticalSection(&WatcherLock);
    return ended;
}

void* WatchedThreadHandle(uint32_t threadId) {
    if (!WatcherLockMade()) {
        return nullptr;
    }
    EnterCriticalSection(&WatcherLock);
    Watcher* watcher = nullptr;
    LONG index = 0;
    void* handle =
        FindWatchedThread(threadId, &watcher, &index) ? watcher->handles[index] : nullptr;
    LeaveCriticalSection(&WatcherLock);
    return handle;
}

} // namespace dovemarl::runtime
