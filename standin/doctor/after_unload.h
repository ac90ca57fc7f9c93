#pragma once
// What a host goes on doing after it unloaded a plug-in, done by the
// run-unload check with the stale-call watch on (see stale_calls.h), so that
// whatever the plug-in left registered with the system is called as it would
// be in the host: the run thread serves messages (hooks, timers, a window's
// subclass), raises and handles an exception (vectored handlers), and the FLS
// slots the run took and left are freed (their callbacks, which the system
// would call as threads end); the unhandled-exception filter is read back.
#include <windows.h>

#include <vector>

#include "lifecycle_log.h"
#include "resource_census.h"

namespace standin {

// Sends, posts and dispatches on the calling thread for durationMs: a message
// taken off the queue (WH_GETMESSAGE hooks), one sent to window
// (WH_CALLWNDPROC and WH_CALLWNDPROCRET hooks, its subclasses), a window made
// and destroyed (WH_CBT hooks), then whatever comes, timers among it.
void ServeMessages(HWND window, DWORD durationMs);

// Raises an exception that a handler of this process takes, as hosts do all
// the time (a failed probe, a C++ throw): every vectored handler is called.
void RaiseAndHandle();

// The process's unhandled-exception filter: a fault when it lies in the
// unloaded image. The log's crash filter is put back either way.
void CheckUnhandledExceptionFilter(const ImageRange& image, LifecycleLog& log,
                                   const std::string& pluginName);

// The FLS slots free now (probed by taking them, at most a few dozen, and
// giving them back).
std::vector<DWORD> ListFreeFlsSlots();
// Frees the slots of freeBefore that are taken now and hold a value of the
// calling thread (the run thread, which called the plug-in), which calls their
// callbacks; each is noted with its slot. A slot without such a value may be
// a system DLL's, taken lazily during the run: it is left alone.
void FreeFlsSlotsTaken(const std::vector<DWORD>& freeBefore, LifecycleLog& log);

} // namespace standin
