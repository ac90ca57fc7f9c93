#pragma once
// Values shared by the window layer: event codes, the results by which a
// handler asks for default processing, and the names of the window properties
// through which the module recognises its own windows and controls.
#include <cstdint>

namespace dovemarl::ui {

// A handler's result that asks for DefWindowProcA.
constexpr int32_t NotHandled = static_cast<int32_t>(0xD0D0D0D1U);
// A message hook's result that lets the module go on with its own handling.
constexpr int32_t HookContinue = static_cast<int32_t>(0xE0E0E0E1U);

// A window's or thread's own message hook: HookContinue lets the module
// handle the message, any other result answers it.
using MessageHook = int32_t(__stdcall*)(void* hwnd, uint32_t message, uintptr_t wParam,
                                        intptr_t lParam);

// Results of WaitEvent besides message numbers.
enum EventCode : int32_t {
    EventNone = 0,
    EventMove = 3,
    EventSize = 5,
    EventRepaint = 15,
    EventClose = 16,
    EventControl = 13100,
    EventMenu = 13101,
    EventActivate = 13104,
    EventMinimize = 13107,
    EventMaximize = 13108,
    EventRestore = 13109,
    EventTimer = 13110,
    EventRightClick = 13111,
    EventLeftClick = 13112,
    EventLeftDoubleClick = 13113,
    EventDeactivate = 13114,
};

// Accelerator commands of every top-level window: Tab and Shift+Tab.
constexpr uint16_t NextTabStopCommand = 0xFA01;
constexpr uint16_t PreviousTabStopCommand = 0xFA02;

// Window properties. WindowNumber holds a top-level window's number plus one,
// ControlNumber a control's number (equal to its GWL_ID while registered).
constexpr char WindowNumberProperty[] = "WindowNumber";
constexpr char ControlNumberProperty[] = "ControlNumber";
constexpr char SavedFocusProperty[] = "SavedFocus";
constexpr char HotkeyMarkerProperty[] = "HotkeyMarker";

} // namespace dovemarl::ui
