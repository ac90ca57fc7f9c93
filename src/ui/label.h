#pragma once
// Labels: read-only lines of text, Win32 "Static" child controls that the
// module creates in the calling thread's current control parent, subclasses
// and names through ControlTable.
#include <windows.h>

#include <cstdint>

#include "runtime/object_table.h"

namespace dovemarl::ui {

struct ControlRecord;

// What all controls of one kind share: a type code and hooks; an absent hook
// means the default behaviour.
struct ControlType {
    int32_t code;
    int32_t (*colourMessage)(ControlRecord* record, HWND parent, UINT message, WPARAM wParam,
                             LPARAM lParam);
    void (*release)(ControlRecord* record);
    void (*setText)(ControlRecord* record, const char* text);
    void (*setColour)(ControlRecord* record, int32_t kind, COLORREF colour);
    COLORREF (*getColour)(const ControlRecord* record, int32_t kind);
};

constexpr COLORREF DefaultColour = static_cast<COLORREF>(-1);
enum ColourKind : int32_t { TextColour = 1, BackgroundColour = 2 };

struct ControlRecord {
    HWND window;
    const ControlType* type;
    WNDPROC previous;
    COLORREF background;     // DefaultColour for the system's
    COLORREF text;           // DefaultColour for the system's
    HBRUSH brush;            // from the brush cache while a background is set
    const void* threadState; // the creating thread's event state, to find its controls
};

extern runtime::ObjectTable* ControlTable;

// Label service start: brush cache, default font, ControlTable, the control
// parent area, and the common controls. The end step runs before the window
// service's: it unhooks every control and control parent still alive. The
// finish, once no thread runs a window procedure of the module any more,
// retires ControlTable and the brush cache with their locks.
void StartLabelService();
void StopLabelService();
void FinishLabelService();

// Creates a label in the calling thread's current control parent. Returns the
// record's handle for AnyNumber, the control's window for a slot number, 0 on
// failure (also when the thread has no current control parent).
int32_t CreateLabel(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                    const char* text, uint32_t flags = 0);
// Replaces the label's text; a null text empties it. Unknown labels: nothing.
void SetLabelText(int32_t label, const char* text);
// Sets or reads a control's text or background colour (DefaultColour for the
// system's); -1 for an unknown control or kind.
void SetControlColour(int32_t control, int32_t kind, COLORREF colour);
COLORREF ControlColour(int32_t control, int32_t kind);

LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Lets a control answer a message its parent received on its behalf (colour
// messages, notifications); NotHandled when it has nothing to say.
int32_t DispatchControlMessage(HWND control, HWND parent, UINT message, WPARAM wParam,
                               LPARAM lParam);
// EnumChildWindows callback: passes WM_SYSCOLORCHANGE on to each child.
BOOL CALLBACK ForwardSysColorChange(HWND child, LPARAM lParam);

} // namespace dovemarl::ui
