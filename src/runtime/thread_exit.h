#pragma once
// Thread-exit cleanup: watcher threads wait on duplicated handles of the
// threads that hold per-thread state and, once such a thread has ended, run
// the hooks it registered. Registration in thread_exit_registration.cpp, the
// watcher's life in watcher.cpp, the stop at unload in thread_exit_stop.cpp,
// their shared state in thread_exit_state.h.
#include <cstdint>

namespace dovemarl::runtime {

using ExitHookFunction = void (*)(uintptr_t argument);

// Arranges for function(argument) to run once, on a watcher thread, after the
// calling thread has ended. A thread's hooks run newest first.
void OnThreadExit(ExitHookFunction function, uintptr_t argument);

// Called by the entry point on every thread-detach notification: when the
// ending thread is a watcher that retired, it has left the module's code for
// good, and its record and handle are given back. Nothing for other threads.
void ForgetEndingWatcher();

// Ends every watcher before the module's code and heaps go away; hooks still
// pending never run (their state goes with the heaps). Safe under the loader
// lock. Afterwards OnThreadExit registers nothing until StartThreadExit.
void StopThreadExit();
void StartThreadExit();

#ifdef DOVEMARL_TEST_BUILD
// For tests: how long a watcher whose threads have all ended waits to be taken
// up by a later registration before its thread retires (returns, with exit
// code 0; a watcher ended by a stop has exit code 1). 250 ms unless set.
void SetWatcherIdleLimit(uint32_t milliseconds);

// For tests: the number of threads each watcher watches, in list order
// (newest watcher first), at most capacity entries; returns the watcher count.
int WatchedThreadCounts(int* counts, int capacity);
// For tests: the number of watchers that ran out of threads and are waiting to
// be taken up; *parked tells how many of them have parked already.
int EndedWatcherCount(int* parked);
// For tests: the number of watchers that gave up waiting and whose threads
// have not yet been seen leaving.
int RetiredWatcherCount();
// For tests: the duplicated handle through which threadId is watched, or null.
void* WatchedThreadHandle(uint32_t threadId);

#endif

} // namespace dovemarl::runtime
