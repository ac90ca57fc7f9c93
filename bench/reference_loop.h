#pragma once
// The reference for the monitor's idle cost: a minimal Win32 loop of the
// benchmark's own with a window and seven labels, which waits 10 ms for a
// message and, when none came, sets the seven label texts from the record.
#include <windows.h>

#include "support/plugin_library.h"

namespace bench {

// Runs the loop on a thread of its own for runMs and returns that thread's
// CPU time in seconds.
double ReferenceLoopCpu(const testing_support::GameInfo* record, DWORD runMs);

} // namespace bench
