#pragma once
// Each thread's control parent: the window that receives the labels the
// thread creates next. A window that has been a control parent is subclassed
// and keeps the thread's state for it while the thread works elsewhere.
#include <windows.h>

#include <cstdint>

namespace dovemarl::ui {

// The per-thread area. The nesting stack is kept, saved and restored with the
// current parent; nothing in this module nests parents, so its depth stays 0.
struct ControlParentState {
    HWND current;
    HFONT font; // of new controls; null for the label font
    HWND* stack;
    int32_t depth;
    int32_t capacity;
};

// Registers the per-thread area (its init hook runs for the calling thread at
// once) and names the saved-state property after the module instance.
void StartControlParents();
// Removes the subclass and saved state of every window that is still a
// control parent, so that none calls into the module after it is gone.
void StopControlParents();

// Makes window the calling thread's current control parent (subclassing it
// the first time) and returns the previous one; null only asks.
HWND SelectControlParent(HWND window);

// The calling thread's state, made on first use.
ControlParentState* ThisThreadControlParent();
HWND CurrentParentOf(const ControlParentState* state);

// Frees the saved state of every control parent whose window is gone without
// a WM_NCDESTROY (destroyed by the system when its thread ended).
void ForgetDeadControlParents();
LRESULT CALLBACK ControlParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#ifdef DOVEMARL_TEST_BUILD
// For tests: the name of the saved-state property.
const char* ControlParentSaveProperty();
#endif

} // namespace dovemarl::ui
