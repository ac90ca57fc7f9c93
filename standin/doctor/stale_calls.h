#pragma once
// Calls into an unloaded image, caught as they fault. A host goes on after an
// unload: its threads dispatch messages, raise and handle exceptions, free
// what they allocated. Whatever the plug-in left registered with the system
// (a timer procedure, a hook, a vectored exception handler, an FLS callback)
// is then called at an address where nothing is mapped. The watch is a
// vectored exception handler at the head of the list, so it sees that fault
// first, before the system swallows it (Wine does, for timers and hooks
// inside DispatchMessage) and before a handler left in the image is called
// again for it. It writes a fault naming what was called, where and on which
// thread, and lets the call return as the callback's kind returns when it
// does nothing, so that the host and the check go on.
#include <string>

#include "lifecycle_log.h"
#include "resource_census.h"

namespace standin {

// What the host is doing while the watch is on, which tells what kind of
// callback a call into the image is.
enum class HostActivity {
    Messages,  // sending, posting, dispatching: timer, hook or window procedures
    Exception, // raising and handling an exception: vectored handlers
    FlsFree,   // freeing an FLS slot: its callback
};

// Starts watching for calls into image, which the caller is about to unload.
// The calling thread is the host's thread whose activity SetHostActivity
// tells; on other threads only a vectored handler can be told from its
// argument, and other calls are left to the handlers after the watch.
void StartStaleCallWatch(const ImageRange& image, LifecycleLog& log);
// From now on, calls are named as made while the host does activity, and the
// fault text says detail ("slot 5") where it is not empty.
void SetHostActivity(HostActivity activity, const std::string& detail = {});
void StopStaleCallWatch();
// Calls caught so far.
int StaleCallsCaught();

} // namespace standin
