#pragma once
// Raising the system timer resolution around a wait, through winmm.dll loaded
// on first use rather than imported.
#include <windows.h>

namespace dovemarl::run {

// Sleeps for ms milliseconds with the timer resolution raised to 1 ms.
void SleepPrecisely(DWORD ms);

} // namespace dovemarl::run
