#pragma once
// The window procedure of every top-level window of the module: it turns
// messages into events and decides which reach DefWindowProcA. A close request
// never does: it only queues EventClose.
#include <windows.h>

namespace dovemarl::ui {

LRESULT CALLBACK TopWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The accelerator table to translate the current message against for the
// active window, or null (a writable rich edit or a hot-key control keeps its
// Tab; a window that is not the module's has none).
HACCEL AcceleratorsFor(HWND active);

} // namespace dovemarl::ui
