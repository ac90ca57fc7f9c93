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

HWND PostWindow = nullptr;
UINT CrossThreadEvent = 0;

// The message is registered system-wide and the window is a top-level one, so
// any program that broadcasts a message of that name reaches it too: only a
// live block of MainHeap of the record's size is taken as an event record.
// Anything else is read not at all and freed never.
bool IsPostedRecord(LPARAM lParam) {
    void* block = reinterpret_cast<void*>(lParam);
    return block != nullptr && runtime::MainHeap != nullptr &&
           HeapValidate(runtime::MainHeap, 0, block) &&
           HeapSize(runtime::MainHeap, 0, block) == sizeof(PostedEvent);
}

} // namespace

LRESULT CALLBACK PostEventProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == CrossThreadEvent && CrossThreadEvent != 0 && IsPostedRecord(lParam)) {
        auto* posted = reinterpret_cast<PostedEvent*>(lParam);
        AppendEvent({posted->code, posted->control, posted->window, posted->type, posted->data});
        HeapFree(runtime::MainHeap, 0, posted);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void StartPostWindow() {
    WNDCLASSA cls = {};
    cls.style = CS_DBLCLKS;
    cls.lpfnWndProc = PostEventProc;
    cls.hInstance = runtime::ModuleInstance;
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = PostClassName;
    RegisterOwnClass(cls);
    // Never shown.
    PostWindow = CreateWindowExA(0, PostClassName, nullptr, WS_CAPTION, 0, 0, 1, 1, nullptr,
                                 nullptr, runtime::ModuleInstance, nullptr);
    CrossThreadEvent = RegisterWindowMessageA(CrossThreadEventName);
}

void StopPostWindow() {
    if (PostWindow != nullptr) {
        if (OwnedByCallingThread(PostWindow)) {
            DestroyWindow(PostWindow);
        } else {
            HandWindowToSystem(PostWindow);
        }
        PostWindow = nullptr;
    }
    UnregisterOwnClass(PostClassName);
    CrossThreadEvent = 0;
}

HWND EventPostWindow() {
    return PostWindow;
}

UINT CrossThreadEventMessage() {
    return CrossThreadEvent;
}

} // namespace dovemarl::ui
