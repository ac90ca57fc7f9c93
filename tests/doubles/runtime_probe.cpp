// A test build of the module: the same code and entry-point function as
// Dovemarl.dll, plus an export that gives the calling thread per-thread
// state, so that tests can load and unload the module around live watchers.
#include <windows.h>

#include <cstdint>

#include "runtime/text_building.h"
#include "runtime/text_workspace.h"
#include "runtime/thread_exit.h"

extern "C" __declspec(dllexport) int32_t __stdcall UseThreadState(int32_t value) {
    dovemarl::runtime::ReadyTextWorkspace();
    int32_t mark = dovemarl::runtime::TextMark();
    dovemarl::runtime::AppendText("value ");
    dovemarl::runtime::AppendDecimal(value);
    dovemarl::runtime::TextRelease(mark);
    return value;
}

// How long an idle watcher waits before it retires, so that a test can make
// retirements meet unloads at every step.
extern "C" __declspec(dllexport) int32_t __stdcall SetIdleLimit(int32_t milliseconds) {
    dovemarl::runtime::SetWatcherIdleLimit(static_cast<uint32_t>(milliseconds));
    return 0;
}
