#include "runtime/thread_exit.h"

#include <windows.h>

#include <initializer_list>

#include "runtime/heaps.h"
#include "runtime/linked_list.h"
#include "runtime/module_image.h"

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
// How long a registration waits for the watcher it started to run (see
// AwaitWatcherStart); only a caller that holds the loader lock waits that long.
constexpr DWORD StartTimeoutMs = 5000;
// How long a stop gives a watcher that has not run yet to get through the
// system's thread start-up before it is ended (see StopThreadExit).
constexpr DWORD StartGraceMs = 100;
// How long a watcher whose last thread has ended waits to be taken up by a
// later registration before it retires (see ParkUntilReused).
constexpr DWORD DefaultIdleLimitMs = 250;
// A watcher's exit code tells how it ended: it returned after retiring, or a
// stop ended it.
constexpr DWORD RetiredExitCode = 0;
constexpr DWORD StoppedExitCode = 1;
// Parked watchers kept at most; more are retired at once (see
// RetireSpareWatchers). 8 of them watch up to 496 threads.
constexpr int SpareWatcherLimit = 8;

// Entry 0 of the arrays holds the wake-up semaphore; entries 1 to count - 1
// hold the watched threads. A watcher is on WatcherList while it watches, on
// EndedList once its last thread is gone, and on RetiredList once it has
// given up waiting to be taken up again, until its thread is out of the
// module; "ended" and "retiring" tell which, under the lock.
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
    DWORD threadId;
    HANDLE parked;  // set by the thread as it waits in Park or ParkUntilReused
    HANDLE running; // set by the thread when it first runs; the starter closes it
    bool started;   // the thread has taken the lock before the stop request
    bool ended;
    bool retiring;
    volatile LONG leaving; // set by a retired thread as the last thing it does
    bool waitForPark;      // decided under the lock when the watchers are retired
    bool endsAlone;        // a stop found it past the module's code (see LeftTheModule)
};

// The watcher lock is made on first use and deleted when the watchers are
// retired at detach.
enum : LONG { LockNotMade, LockBeingMade, LockMade, LockRetired };
volatile LONG WatcherLockState = LockNotMade;
CRITICAL_SECTION WatcherLock;
HANDLE NeverSignalled = nullptr; // where parked watcher threads wait for good
Watcher* WatcherList = nullptr;  // watchers with threads to watch, newest first
Watcher* EndedList = nullptr;    // watchers whose last thread ended, parked or parking
Watcher* RetiredList = nullptr;  // watchers whose threads are leaving the module
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

// A watcher leaves the waiting ones for good. From here on no registration
// takes it up: its thread closes what it waited on and returns from its
// procedure (see ParkUntilReused), which ends it the ordinary way, with every
// DLL's thread-detach notification and its stack given back. Until that
// notification reaches ForgetEndingWatcher, the thread may still be running
// the last instructions of the module's code, so the watcher stays on
// RetiredList, where a stop can still end it. Under the lock.
void RetireWatcher(Watcher* watcher) {
    Unlink(EndedList, watcher);
    watcher->retiring = true;
    PushFront(RetiredList, watcher);
}

// Closes what a watcher held, its own thread's handle included.
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

// Gives back the records of retired watchers whose threads have ended without
// a thread-detach notification reaching the module (the unit tests link the
// code into a program, where none does). Under the lock.
void ReleaseEndedRetirees() {
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

// A watcher whose last thread has ended waits here until a later
// registration takes it up again (TakeUpWatcher: under the lock it clears
// "ended", gives the watcher a thread and releases the semaphore), or until
// IdleLimitMs have passed without one, when it retires: returns true when
// taken up, false when retired. Ending the thread from outside instead would
// cost more than the thread: TerminateThread skips every DLL's thread-detach
// notification, and this system does not give back the stack of a thread
// ended that way (10,000 short-lived threads, one after another, used up the
// address space). While "parked" is set the thread is inside the wait, as in
// Park, so a stop may still end it there. Only a taker releases an ended
// watcher's semaphore, and only after clearing "ended", or a trim that has
// retired it (RetireSpareWatchers), so a count taken here under the lock is a
// leftover that would end the wait at once. A taker clears "parked" before the
// wake-up when the thread is in the wait; when the wait ends by itself, or a
// taker came before the thread got there, "parked" stays set for the few
// steps until the thread takes the lock here. A stop in those steps ends the
// thread there; it holds nothing but perhaps the lock, which the stop deletes.
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
// retires (see ParkUntilReused). Under the lock.
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
    if (watcher->running != nullptr) {
        SetEvent(watcher->running);
    }
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
        if (ending && !ParkUntilReused(watcher)) {
            // Nothing but this function's own return follows (see
            // LeftTheModule); ForgetEndingWatcher takes the record.
            InterlockedExchange(&watcher->leaving, 1);
            return RetiredExitCode;
        }
    }
}

// A retired watcher's thread, past its last wait, returns from its procedure
// on its own: that is the point of retiring. A stop that meets it before its
// thread-detach notification has said so cannot wait for it to end (the end
// needs the loader lock, which the stop may hold), and ending it from outside
// might catch it inside the system's thread exit holding a lock of the
// system's. So the stop waits for "leaving", after which only the procedure's
// return is left, and then until the thread's next instruction lies outside
// the module: from there on it runs only the system's code. False when that
// does not happen before the deadline.
bool LeftTheModule(Watcher* watcher, DWORD deadline) {
    for (;;) {
        if (WaitForSingleObject(watcher->thread, 0) == WAIT_OBJECT_0 ||
            (watcher->leaving != 0 && !ThreadExecutingInModule(watcher->thread))) {
            return true;
        }
        if (static_cast<LONG>(deadline - GetTickCount()) <= 0) {
            return false;
        }
        Sleep(1);
    }
}

// Retires the oldest parked watchers beyond the SpareWatcherLimit newest:
// woken with "retiring" set, each returns from its procedure. Under the lock.
void RetireSpareWatchers() {
    int spares = 0;
    for (Watcher* watcher = EndedList; watcher != nullptr;) {
        Watcher* next = watcher->next;
        if (++spares > SpareWatcherLimit) {
            RetireWatcher(watcher);
            ReleaseSemaphore(watcher->semaphore, 1, nullptr);
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

// Starts a watcher for one thread. Under the lock; null when anything could
// not be made (then nothing is left behind but the caller's handle).
Watcher* StartWatcher(HANDLE threadHandle, DWORD threadId, ExitHook* hook) {
    auto* watcher = NewRecord<Watcher>();
    if (watcher == nullptr) {
        return nullptr;
    }
    watcher->semaphore = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    watcher->parked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    watcher->running = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (watcher->semaphore != nullptr && watcher->parked != nullptr &&
        watcher->running != nullptr) {
        watcher->handles[0] = watcher->semaphore;
        watcher->handles[1] = threadHandle;
        watcher->threadIds[1] = threadId;
        watcher->hooks[1] = hook;
        watcher->count = 2;
        // The handle is kept (not closed at once) so that the thread can be
        // ended when it is retired.
        watcher->thread = CreateThread(nullptr, WatcherStackReserve, WatchThreads, watcher,
                                       STACK_SIZE_PARAM_IS_A_RESERVATION, &watcher->threadId);
    }
    if (watcher->thread == nullptr) {
        watcher->count = 0; // the caller keeps the thread's handle
        CloseWatcherHandles(watcher);
        FreeRecord(watcher);
        return nullptr;
    }
    PushFront(WatcherList, watcher);
    return watcher;
}

// Waits until the watcher's thread runs the module's code, which it does only
// once the system has set it up completely. A thread ended from outside while
// the system is still setting it up can take the whole process down (Wine
// crashes in its signal handler then), so no watcher is left in that state for
// a stop to meet: once this returns, an unload may end the watcher at any
// moment. The thread needs the loader lock before it runs; a caller that holds
// that lock gives up after StartTimeoutMs, and a stop then gives the thread
// StartGraceMs more. Without the lock: the thread takes it to signal.
void AwaitWatcherStart(Watcher* watcher) {
    WaitForSingleObject(watcher->running, StartTimeoutMs);
    EnterCriticalSection(&WatcherLock);
    if (!Stopping) {
        CloseHandle(watcher->running);
        watcher->running = nullptr;
    }
    LeaveCriticalSection(&WatcherLock);
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
    RetireSpareWatchers();
    ReleaseEndedRetirees();

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
    Watcher* started = nullptr;
    if (watcher != nullptr) {
        LONG count = watcher->count;
        watcher->handles[count] = threadHandle;
        watcher->threadIds[count] = threadId;
        watcher->hooks[count] = hook;
        InterlockedExchange(&watcher->count, count + 1); // published after the entry
        // Fails harmlessly when already released: the watcher rereads the count.
        ReleaseSemaphore(watcher->semaphore, 1, nullptr);
    } else if (!TakeUpWatcher(threadHandle, threadId, hook)) {
        started = StartWatcher(threadHandle, threadId, hook);
        if (started == nullptr) {
            CloseHandle(threadHandle);
            FreeRecord(hook);
        }
    }
    LeaveCriticalSection(&WatcherLock);
    // The new watcher watches this thread, so it cannot retire, and its
    // record stay, while this waits.
    if (started != nullptr) {
        AwaitWatcherStart(started);
    }
}

void ForgetEndingWatcher() {
    if (!WatcherLockMade() || __atomic_load_n(&RetiredList, __ATOMIC_RELAXED) == nullptr) {
        return; // no watcher is leaving: the common case, at every thread's end
    }
    DWORD self = GetCurrentThreadId();
    EnterCriticalSection(&WatcherLock);
    for (Watcher* watcher = RetiredList; watcher != nullptr; watcher = watcher->next) {
        if (watcher->threadId == self) {
            Unlink(RetiredList, watcher);
            CloseWatcherHandles(watcher);
            FreeRecord(watcher);
            break;
        }
    }
    LeaveCriticalSection(&WatcherLock);
}

// Retiring the watchers at detach. DLL_PROCESS_DETACH runs under the loader
// lock, and a thread cannot finish exiting without that lock, so waiting here
// for a watcher thread to end would deadlock. Instead every watcher is asked
// to stop (the flag, then the semaphore of each one still watching), and each
// one acknowledges by parking (see Park; an ended watcher parks where it waits
// to be taken up): once it is parked it is ended with TerminateThread, which
// needs no loader lock. A watcher that had not yet taken the lock when the flag
// was set has run nothing of the module's yet: it is given StartGraceMs to park
// (under the loader lock it cannot get that far and waits in the system's
// thread start-up, where it is ended). A retired watcher that is past its
// last wait and has not been forgotten yet is left to end by itself once it is
// past the module's last instructions (see LeftTheModule). A watcher that does
// not park or leave in time (all share one time
// limit) is ended anyway rather than hanging the host's unload. No hook runs
// after this: the heaps, and all state the hooks would release, are destroyed
// whole right after.
void StopThreadExit() {
    if (!WatcherLockMade()) {
        return;
    }
    EnterCriticalSection(&WatcherLock);
    Stopping = true;
    Watcher* stopping = nullptr;
    for (Watcher** list : {&WatcherList, &EndedList, &RetiredList}) {
        while (Watcher* watcher = *list) {
            Unlink(*list, watcher);
            if (!watcher->ended) {
                ReleaseSemaphore(watcher->semaphore, 1, nullptr);
            }
            // "started" no longer changes: a watcher sets it under the lock,
            // and only while no stop has been asked for. A retired watcher
            // that has closed its "parked" event is past its last wait.
            watcher->waitForPark = watcher->started && watcher->parked != nullptr;
            PushFront(stopping, watcher);
        }
    }
    LeaveCriticalSection(&WatcherLock);

    DWORD deadline = GetTickCount() + ParkTimeoutMs;
    for (Watcher* watcher = stopping; watcher != nullptr; watcher = watcher->next) {
        if (watcher->waitForPark) {
            WaitUntilDeadline(watcher->parked, deadline);
        } else if (!watcher->started) {
            WaitUntilDeadline(watcher->parked, GetTickCount() + StartGraceMs);
        } else if (LeftTheModule(watcher, deadline)) {
            watcher->endsAlone = true; // retired and past the module's code
            continue;
        }
        TerminateThread(watcher->thread, StoppedExitCode);
    }
    deadline = GetTickCount() + TerminateTimeoutMs;
    for (Watcher* watcher = stopping; watcher != nullptr; watcher = watcher->next) {
        // One that ends by itself may need the loader lock to finish, which
        // this may hold: it is not waited for.
        if (!watcher->endsAlone) {
            WaitUntilDeadline(watcher->thread, deadline);
        }
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
    WatcherList = EndedList = RetiredList = nullptr;
    Stopping = false;
}

void SetWatcherIdleLimit(uint32_t milliseconds) {
    IdleLimitMs = milliseconds;
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

int RetiredWatcherCount() {
    if (!WatcherLockMade()) {
        return 0;
    }
    EnterCriticalSection(&WatcherLock);
    int retired = 0;
    for (Watcher* watcher = RetiredList; watcher != nullptr; watcher = watcher->next) {
        ++retired;
    }
    LeaveCriticalSection(&WatcherLock);
    return retired;
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
