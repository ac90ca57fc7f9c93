#pragma once
// The run thread serving its messages, as a host's UI thread does between
// the things it does.
#include <windows.h>

namespace standin {

// Serves the calling thread's messages for durationMs, or until until (when
// given) is signalled.
void Pump(DWORD durationMs, HANDLE until = nullptr);

} // namespace standin
