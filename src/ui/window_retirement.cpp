#include "ui/window_retirement.h"

namespace dovemarl::ui {

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
}

void RemoveSubclass(HWND window, WNDPROC ours, WNDPROC previous) {
    auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
    if (current == ours && previous != nullptr) {
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    }
}

} // namespace dovemarl::ui
