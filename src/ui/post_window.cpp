#include "ui/post_window.h"

#include "runtime/heaps.h"
#include "runtime/module.h"
#include "ui/event_queue.h"
#include "ui/window_class.h"
#include "ui/window_retirement.h"

namespace dovemarl::ui {

namespace {

constexpr char PostClassName[] = "PostEventClass";
constexpr char CrossThreadEventName[] = "CrossThreadEvent";

// Made on first need rather than at start-up: creating a window is most of
// what loading and unloading the module would cost otherwise (under Wine's X11
// driver it makes an X window), and most loads never post an event. The lock
// keeps two first needs from making two windows.
SRWLOCK PostWindowLock = SRWLOCK_INIT;
HWND PostWindow = nullptr;
DWORD PostWindowThread = 0;
UINT CrossThreadEvent = 0;
bool ClassRegistered = false;

// A message-only window receives no broadcasts, but the message is
// registered system-wide and the window can still be found by its class
// (FindWindowEx under HWND_MESSAGE) and sent to directly, by another program
// or by code of the host: only a live block of MainHeap of the record's size
// is taken as an event record. Anything else is read not at all and freed
// never.
bool IsPostedRecord(LPARAM lParam) {
    void* block = reinterpret_cast<void*>(lParam);
    return block != nullptr && runtime::MainHeap != nullptr &&
           HeapValidate(runtime::MainHeap, 0, block) &&
           HeapSize(runtime::MainHeap, 0, block) == sizeof(PostedEvent);
}

LRESULT HandlePostEventMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == CrossThreadEvent && CrossThreadEvent != 0 && IsPostedRecord(lParam)) {
        auto* posted = reinterpret_cast<PostedEvent*>(lParam);
        AppendEvent({posted->code, posted->control, posted->window, posted->type, posted->data});
        HeapFree(runtime::MainHeap, 0, posted);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

LRESULT CALLBACK PostEventProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return RunCounted(HandlePostEventMessage, window, message, wParam, lParam);
}

namespace {

// The window that was made is still there: the system destroys a thread's
// windows when the thread ends, without a word to the module.
bool PostWindowAlive() {
    return PostWindow != nullptr && IsWindow(PostWindow) &&
           GetWindowThreadProcessId(PostWindow, nullptr) == PostWindowThread;
}

void MakePostWindow() {
    if (!ClassRegistered) {
        WNDCLASSA cls = {};
        cls.style = CS_DBLCLKS;
        cls.lpfnWndProc = PostEventProc;
        cls.hInstance = runtime::ModuleInstance;
        cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        cls.lpszClassName = PostClassName;
        RegisterOwnClass(cls);
        ClassRegistered = true;
        CrossThreadEvent = RegisterWindowMessageA(CrossThreadEventName);
    }
    // Message-only: never shown, not among the top-level windows, and so not
    // one that every broadcast (SendMessage to HWND_BROADCAST, DDE initiation)
    // in the session waits on while its thread does not pump messages.
    PostWindow = CreateWindowExA(0, PostClassName, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 runtime::ModuleInstance, nullptr);
    PostWindowThread = PostWindow != nullptr ? GetCurrentThreadId() : 0;
}

} // namespace

void EnsurePostWindow() {
    AcquireSRWLockExclusive(&PostWindowLock);
    if (!PostWindowAlive()) {
        MakePostWindow();
    }
    ReleaseSRWLockExclusive(&PostWindowLock);
}

void StopPostWindow() {
    if (PostWindowAlive()) {
        if (OwnedByCallingThread(PostWindow)) {
            DestroyWindow(PostWindow);
        } else {
            HandWindowToSystem(PostWindow);
        }
    }
    PostWindow = nullptr;
    PostWindowThread = 0;
    if (ClassRegistered) {
        UnregisterOwnClass(PostClassName);
        ClassRegistered = false;
    }
    CrossThreadEvent = 0;
}

HWND EventPostWindow() {
    EnsurePostWindow();
    return PostWindow;
}

UINT CrossThreadEventMessage() {
    EnsurePostWindow();
    return CrossThreadEvent;
}

} // namespace dovemarl::ui
