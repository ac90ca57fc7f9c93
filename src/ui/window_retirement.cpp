#include "ui/window_retirement.h"

#include "runtime/deadline.h"
#include "runtime/module_image.h"

namespace dovemarl::ui {

namespace {

constexpr DWORD ProcedureWaitMs = 5000;
constexpr int RememberedThreads = 64;

// A window's own thread may be inside one of the module's procedures at the
// moment another thread unloads the module: handling a message it sent itself,
// say. Handing the window to the system changes only where later messages go,
// so the unload also waits for the procedures under way to return.
volatile LONG ProceduresRunning = 0;
// The threads whose windows were handed over at this detach; only the detach
// writes them.
DWORD HandedThreads[RememberedThreads];
int HandedThreadCount = 0;

void RememberThread(DWORD threadId) {
    for (int i = 0; i < HandedThreadCount; ++i) {
        if (HandedThreads[i] == threadId) {
            return;
        }
    }
    if (HandedThreadCount < RememberedThreads) {
        HandedThreads[HandedThreadCount++] = threadId;
    }
}

} // namespace

LRESULT RunCounted(MessageHandler handler, HWND window, UINT message, WPARAM wParam,
                   LPARAM lParam) {
    InterlockedIncrement(&ProceduresRunning);
    LRESULT result = handler(window, message, wParam, lParam);
    InterlockedDecrement(&ProceduresRunning);
    return result;
}

// Once the count is 0, a thread may still be running the few instructions
// after a procedure's decrement, or before its increment; its instruction
// pointer tells. What cannot be waited for: a thread whose procedure is held
// up longer (a window being dragged runs its modal loop inside the
// procedure), and one the system is about to call a procedure on that it
// looked up before the window was handed over.
void AwaitWindowProcedures() {
    DWORD deadline = runtime::DeadlineAfter(ProcedureWaitMs);
    runtime::PollUntil(deadline, [] { return ProceduresRunning <= 0; });
    for (int i = 0; i < HandedThreadCount; ++i) {
        HANDLE thread =
            OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, HandedThreads[i]);
        if (thread == nullptr) {
            continue; // ended
        }
        runtime::PollUntil(deadline,
                           [thread] { return !runtime::ThreadExecutingInModule(thread); });
        CloseHandle(thread);
    }
    HandedThreadCount = 0;
    ProceduresRunning = 0;
}

bool OwnedByCallingThread(HWND window) {
    return GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
}

void HandWindowToSystem(HWND window) {
    // Setting the procedure is allowed across threads of one process; from
    // here on the window's messages, the WM_CLOSE below among them, go to
    // DefWindowProcA, which destroys it on its own thread. Its children go
    // with it; their subclasses are removed by the label service.
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcA));
    PostMessageA(window, WM_CLOSE, 0, 0);
    RememberThread(GetWindowThreadProcessId(window, nullptr));
}

void RemoveSubclass(HWND window, WNDPROC ours, WNDPROC previous) {
    auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
    if (current == ours && previous != nullptr) {
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    }
}

} // namespace dovemarl::ui
