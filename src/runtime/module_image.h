#pragma once
// Where the module's code lies, for the steps of an unload that must make
// sure no other thread is still running it.
#include <windows.h>

namespace dovemarl::runtime {

// Whether the thread's next instruction lies in the module's image. The
// thread is stopped for the moment it takes to read that; false for a thread
// that has ended.
bool ThreadExecutingInModule(HANDLE thread);

} // namespace dovemarl::runtime
