// Registering exit hooks: a thread's first hook gives it an entry with a
// watcher (one with room, else an ended one taken up, else a new one); later
// hooks join its entry.
#include "runtime/heaps.h"
#include "runtime/linked_list.h"
#include "runtime/thread_exit_state.h"

namespace dovemarl::runtime {

namespace {

using watchers::ExitHook;
using watchers::Watcher;
using watchers::WatcherLock;

// A watcher's stack: its hooks only give records back to the heaps. The whole
// reservation is what a watcher ended by TerminateThread leaves behind, and
// the default for this process would be the host's (often 1 MiB or more).
constexpr DWORD WatcherStackReserve = 64 * 1024;
// How long a registration waits for the watcher it started to run; only a
// caller that holds the loader lock waits that long (see AwaitWatcherStart).
constexpr DWORD StartTimeoutMs = 5000;
// Parked watchers kept at most; more are retired at once. 8 of them watch up
// to 496 threads.
constexpr int SpareWatcherLimit = 8;

// Retires the oldest ended watchers beyond the SpareWatcherLimit newest; woken,
// each returns from its procedure. Under the lock.
void RetireSpareWatchers() {
    int spares = 0;
    for (Watcher* watcher = watchers::EndedList; watcher != nullptr;) {
        Watcher* next = watcher->next;
        if (++spares > SpareWatcherLimit) {
            watchers::RetireWatcher(watcher);
            ReleaseSemaphore(watcher->semaphore, 1, nullptr);
        }
        watcher = next;
    }
}

ExitHook* NewHook(ExitHookFunction function, uintptr_t argument) {
    auto* hook = NewRecord<ExitHook>();
    if (hook != nullptr) {
        hook->function = function;
        hook->argument = argument;
    }
    return hook;
}

// Gives the thread an entry in a watcher on WatcherList that has room; false
// when none has. Under the lock.
bool AppendToWatcher(HANDLE threadHandle, DWORD threadId, ExitHook* hook) {
    Watcher* watcher = watchers::WatcherList;
    while (watcher != nullptr && watcher->count >= watchers::WatcherCapacity) {
        watcher = watcher->next;
    }
    if (watcher == nullptr) {
        return false;
    }
    DOVEMARL_INVARIANT(!watcher->ended && !watcher->retiring);
    LONG count = watcher->count;
    watcher->handles[count] = threadHandle;
    watcher->threadIds[count] = threadId;
    watcher->hooks[count] = hook;
    InterlockedExchange(&watcher->count, count + 1); // published after the entry
    // Fails harmlessly when already released: the watcher rereads the count.
    ReleaseSemaphore(watcher->semaphore, 1, nullptr);
    return true;
}

// Gives an ended watcher, parked or still running its last hooks, the thread
// to watch and wakes it (see ParkUntilReused); false when there is none. Under
// the lock.
bool TakeUpWatcher(HANDLE threadHandle, DWORD threadId, ExitHook* hook) {
    Watcher* watcher = watchers::EndedList;
    if (watcher == nullptr) {
        return false;
    }
    DOVEMARL_INVARIANT(watcher->ended && !watcher->retiring && watcher->count == 1);
    Unlink(watchers::EndedList, watcher);
    watcher->ended = false;
    // From the wake-up on the thread runs module code again.
    ResetEvent(watcher->parked);
    watcher->handles[1] = threadHandle;
    watcher->threadIds[1] = threadId;
    watcher->hooks[1] = hook;
    InterlockedExchange(&watcher->count, 2);
    PushFront(watchers::WatcherList, watcher);
    ReleaseSemaphore(watcher->semaphore, 1, nullptr);
    return true;
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
        watcher->thread =
            CreateThread(nullptr, WatcherStackReserve, watchers::WatchThreads, watcher,
                         STACK_SIZE_PARAM_IS_A_RESERVATION, &watcher->threadId);
    }
    if (watcher->thread == nullptr) {
        watcher->count = 0; // the caller keeps the thread's handle
        watchers::CloseWatcherHandles(watcher);
        FreeRecord(watcher);
        return nullptr;
    }
    PushFront(watchers::WatcherList, watcher);
    return watcher;
}

// No stop may meet a watcher whose thread the system is still setting up
// (ending it then can take the process down; Wine crashes in its signal
// handler), so a registration waits until the thread runs the module's code.
// That needs the loader lock: a caller that holds it gives up after
// StartTimeoutMs, and a stop then gives the thread StartGraceMs more.
void AwaitWatcherStart(Watcher* watcher) {
    WaitForSingleObject(watcher->running, StartTimeoutMs);
    EnterCriticalSection(&WatcherLock);
    if (!watchers::Stopping) {
        CloseHandle(watcher->running);
        watcher->running = nullptr;
    }
    LeaveCriticalSection(&WatcherLock);
}

} // namespace

void OnThreadExit(ExitHookFunction function, uintptr_t argument) {
    DWORD threadId = GetCurrentThreadId();
    if (!watchers::EnsureWatcherLock()) {
        return;
    }
    EnterCriticalSection(&WatcherLock);
    if (watchers::Stopping) {
        LeaveCriticalSection(&WatcherLock);
        return;
    }
    RetireSpareWatchers();
    watchers::ReleaseEndedRetirees();

    Watcher* watcher = nullptr;
    LONG index = 0;
    if (watchers::FindWatchedThread(threadId, &watcher, &index)) {
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
    Watcher* started = nullptr;
    if (!AppendToWatcher(threadHandle, threadId, hook) &&
        !TakeUpWatcher(threadHandle, threadId, hook)) {
        started = StartWatcher(threadHandle, threadId, hook);
        if (started == nullptr) {
            CloseHandle(threadHandle);
            FreeRecord(hook);
        }
    }
    LeaveCriticalSection(&WatcherLock);
    // The new watcher watches this thread, so it cannot retire, and its record
    // stays, while this waits.
    if (started != nullptr) {
        AwaitWatcherStart(started);
    }
}

} // namespace dovemarl::runtime
