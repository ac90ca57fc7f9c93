#pragma once
// The module's top-level windows: each in a window class of its own, with a
// Tab / Shift+Tab accelerator table, named through WindowTable.
#include <windows.h>

#include <cstdint>

#include "runtime/object_table.h"

namespace dovemarl::ui {

struct WindowRecord {
    HWND window;
    ACCEL* accelerators; // MainHeap block owned by the record
    HACCEL acceleratorTable;
    void* messageHook; // a per-window message hook; none in this module
    int32_t acceleratorCount;
    HBRUSH background; // deleted when the window closes; none at open
    HWND mdiClient;    // non-zero would make the window an MDI child
    int32_t minimisedOrMaximised;
    const void* threadState; // the creating thread's event state, to find its windows
};

extern runtime::ObjectTable* WindowTable;

// Flags of CreateTopWindow: Win32 styles, except for these bits.
enum WindowFlag : uint32_t {
    CentreOnScreen = 0x00000001,
    CentreOnWindow = 0x00000002, // on the parent, else on the active window
    ToolWindow = 0x00000004,
    NotControlParent = 0x00000008,
    StayHidden = 0x10000000, // the value of WS_VISIBLE, which never reaches Win32
};
constexpr uint32_t DefaultWindowFlags = WS_CAPTION | WS_SYSMENU; // 0x00C80000
// A coordinate that lets the system place the window.
constexpr int32_t SystemPlaces = -65535;

// Window service start: WindowTable and the event state areas (the class
// icon and cursor come with the first class). The end step closes every window
// still open; a window of another thread than the detaching one is handed to
// its own thread to destroy. The finish, once no thread runs a window
// procedure of the module any more, retires WindowTable and its lock.
void StartWindowService();
void StopWindowService();
void FinishWindowService();

// Opens a window whose client area is width by height with its outer corner
// at (x, y). Returns the record's handle for AnyNumber, the window handle for
// a slot number, 0 on failure.
int32_t CreateTopWindow(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                        const char* title, uint32_t flags, HWND parent);
int32_t CreateTopWindowDefault(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                               const char* title);
// Puts the window into the topmost band (state non-zero) or takes it out,
// without moving or resizing it.
void SetWindowTopmost(int32_t window, int32_t state);
// Closes one window, or every open window for AnyNumber.
void DestroyTopWindow(int32_t window);

WindowRecord* FindWindowRecord(int32_t window);
// The number of the module window hwnd is, from its WindowNumber property;
// AnyNumber (-1) for a window that is not one of the module's.
int32_t WindowNumberOf(HWND hwnd);

} // namespace dovemarl::ui
