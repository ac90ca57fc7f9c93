#include "ui/window_proc.h"

#include <richedit.h>

#include <cstring>

#include "ui/event_queue.h"
#include "ui/event_state.h"
#include "ui/focus.h"
#include "ui/label.h"
#include "ui/top_window.h"
#include "ui/window_codes.h"
#include "ui/window_retirement.h"

namespace dovemarl::ui {

namespace {

// A control whose identifier is this counts as a menu item.
constexpr int32_t MenuControlId = -10000;
constexpr int RichClassCapacity = 5;

// The window a message concerns: hwnd or the nearest ancestor that is one of
// the module's, with its record (none while it is created or destroyed).
struct Target {
    HWND hwnd;
    int32_t number;
    WindowRecord* record;
    EventState* state;
    // The record, when it is hwnd's own.
    WindowRecord* Own() const {
        return record != nullptr && record->window == hwnd ? record : nullptr;
    }
};

Target FindTarget(HWND hwnd) {
    Target target = {hwnd, runtime::AnyNumber, nullptr, ThisThreadEventState()};
    for (HWND window = hwnd; window != nullptr; window = GetParent(window)) {
        int32_t number = WindowNumberOf(window);
        if (number != runtime::AnyNumber) {
            target.number = number;
            target.record = FindWindowRecord(number);
            break;
        }
    }
    return target;
}

void Queue(const Target& target, int32_t code, int32_t control = 0) {
    AppendEvent({code, control, target.number, 0, 0});
}

// An immediate event: the wait that is dispatching the message returns it.
void SetPending(const Target& target, int32_t code) {
    if (target.state != nullptr) {
        target.state->pending = code;
    }
}

void SetPending(const Target& target, int32_t code, int32_t control) {
    SetPending(target, code);
    if (target.state != nullptr) {
        target.state->control = control;
    }
}

int32_t OnMove(const Target& target) {
    if (target.Own() != nullptr) {
        Queue(target, EventMove, target.number);
    }
    return 0;
}

// Restoring after minimising or maximising tells both; a plain resize only
// the new size.
int32_t OnSize(const Target& target, WPARAM kind) {
    WindowRecord* record = target.Own();
    if (record == nullptr) {
        return 1;
    }
    switch (kind) {
    case SIZE_RESTORED:
        if (record->minimisedOrMaximised) {
            record->minimisedOrMaximised = 0;
            Queue(target, EventRestore);
        }
        Queue(target, EventSize);
        break;
    case SIZE_MINIMIZED:
        record->minimisedOrMaximised = 1;
        Queue(target, EventMinimize);
        break;
    case SIZE_MAXIMIZED:
        record->minimisedOrMaximised = 1;
        Queue(target, EventMaximize);
        Queue(target, EventSize);
        break;
    default:
        Queue(target, EventSize);
        break;
    }
    return 0;
}

// Never passed on: activation does not move the focus to the window itself,
// the control that had it when the window was deactivated gets it back.
int32_t OnActivate(const Target& target, WPARAM wParam) {
    if (LOWORD(wParam) != WA_INACTIVE) {
        if (auto saved = static_cast<HWND>(GetPropA(target.hwnd, SavedFocusProperty))) {
            SetFocus(saved);
        }
        Queue(target, EventActivate);
    } else {
        SetPropA(target.hwnd, SavedFocusProperty, GetFocus());
        SetFocusCues(target.hwnd, false);
        Queue(target, EventDeactivate);
    }
    return 1;
}

// A close request leaves the window on screen: only DestroyTopWindow removes
// a window.
int32_t OnClose(const Target& target) {
    if (target.Own() != nullptr) {
        Queue(target, EventClose, target.number);
    }
    return 0;
}

int32_t OnEraseBackground(const Target& target, WPARAM dc) {
    int32_t result = NotHandled;
    if (target.record != nullptr && target.record->background != nullptr) {
        RECT client = {};
        GetClientRect(target.hwnd, &client);
        FillRect(reinterpret_cast<HDC>(dc), &client, target.record->background);
        result = 1;
    }
    Queue(target, EventRepaint);
    return result;
}

int32_t OnSysColorChange(const Target& target) {
    if (target.record != nullptr && target.record->mdiClient == nullptr) {
        EnumChildWindows(target.hwnd, ForwardSysColorChange, 0);
    }
    return NotHandled;
}

int32_t OnGetMinMaxInfo(const Target& target, LPARAM lParam) {
    if (target.record == nullptr) {
        return NotHandled;
    }
    if (GetWindowLongA(target.hwnd, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) {
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize.x = 1;
    }
    return 0;
}

int32_t OnCommand(const Target& target, WPARAM wParam, LPARAM lParam) {
    auto control = reinterpret_cast<HWND>(lParam);
    const bool fromAccelerator = HIWORD(wParam) != 0; // 0 is a menu
    if (DispatchControlMessage(control, target.hwnd, WM_COMMAND, wParam, lParam) != NotHandled) {
        return 0;
    }
    if (control != nullptr) {
        auto id = static_cast<int32_t>(GetWindowLongA(control, GWL_ID));
        if (id == MenuControlId) {
            SetPending(target, EventMenu, LOWORD(wParam));
        } else {
            SetPending(target, EventControl, id);
            if (target.state != nullptr) {
                target.state->type = HIWORD(wParam);
            }
        }
    } else if (fromAccelerator && LOWORD(wParam) == NextTabStopCommand) {
        CycleFocus(false);
    } else if (fromAccelerator && LOWORD(wParam) == PreviousTabStopCommand) {
        CycleFocus(true);
    } else {
        SetPending(target, EventMenu, LOWORD(wParam)); // a menu or another accelerator
    }
    return 0;
}

int32_t OnTimer(const Target& target, WPARAM timer) {
    if (target.record == nullptr) {
        return NotHandled;
    }
    SetPending(target, EventTimer, static_cast<int32_t>(timer));
    return 0;
}

int32_t OnClick(const Target& target, int32_t code) {
    SetPending(target, code);
    return 0;
}

int32_t OnNotify(const Target& target, WPARAM wParam, LPARAM lParam) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    if (header == nullptr) {
        return NotHandled;
    }
    return DispatchControlMessage(header->hwndFrom, target.hwnd, WM_NOTIFY, wParam, lParam);
}

// A message hook of the window, else of the thread, may answer first.
int32_t CallHook(const Target& target, UINT message, WPARAM wParam, LPARAM lParam) {
    void* hook = target.record != nullptr ? target.record->messageHook : nullptr;
    if (hook == nullptr && target.state != nullptr) {
        hook = target.state->threadHook;
    }
    if (hook == nullptr) {
        return HookContinue;
    }
    return reinterpret_cast<MessageHook>(hook)(target.hwnd, message, wParam, lParam);
}

int32_t Handle(const Target& target, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_MOVE:
        return OnMove(target);
    case WM_SIZE:
        return OnSize(target, wParam);
    case WM_ACTIVATE:
        return OnActivate(target, wParam);
    case WM_CLOSE:
        return OnClose(target);
    case WM_ERASEBKGND:
        return OnEraseBackground(target, wParam);
    case WM_SYSCOLORCHANGE:
        return OnSysColorChange(target);
    case WM_GETMINMAXINFO:
        return OnGetMinMaxInfo(target, lParam);
    case WM_NOTIFY:
        return OnNotify(target, wParam, lParam);
    case WM_NCDESTROY:
        RemovePropA(target.hwnd, SavedFocusProperty);
        return 1;
    case WM_COMMAND:
        return OnCommand(target, wParam, lParam);
    case WM_TIMER:
        return OnTimer(target, wParam);
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
        return DispatchControlMessage(reinterpret_cast<HWND>(lParam), target.hwnd, message, wParam,
                                      lParam);
    case WM_LBUTTONUP:
        return OnClick(target, EventLeftClick);
    case WM_LBUTTONDBLCLK:
        return OnClick(target, EventLeftDoubleClick);
    case WM_RBUTTONUP: // never passed on, so no WM_CONTEXTMENU follows
        return OnClick(target, EventRightClick);
    default:
        return NotHandled;
    }
}

bool KeyDown(int key) {
    return GetKeyState(key) < 0;
}

LRESULT HandleTopWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Target target = FindTarget(hwnd);
    int32_t result = CallHook(target, message, wParam, lParam);
    if (result == HookContinue) {
        if (target.state != nullptr) {
            target.state->window = target.number;
        }
        result = Handle(target, message, wParam, lParam);
    }
    SetLastError(0);
    if (result == NotHandled) {
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    return result;
}

} // namespace

LRESULT CALLBACK TopWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return RunCounted(HandleTopWindowMessage, hwnd, message, wParam, lParam);
}

HACCEL AcceleratorsFor(HWND active) {
    HWND focus = GetFocus();
    bool modifiers = KeyDown(VK_CONTROL) || KeyDown(VK_SHIFT) || KeyDown(VK_MENU);
    if (focus != nullptr && KeyDown(VK_TAB) && !modifiers) {
        // A writable rich edit control takes Tab itself.
        char className[RichClassCapacity] = "";
        GetClassNameA(focus, className, RichClassCapacity);
        if (std::strncmp(className, "Rich", 4) == 0 &&
            (SendMessageA(focus, EM_GETOPTIONS, 0, 0) & ECO_READONLY) == 0) {
            return nullptr;
        }
    }
    if (active != nullptr && modifiers) {
        SetFocusCues(active, true);
    }
    if (focus != nullptr && GetPropA(focus, HotkeyMarkerProperty) != nullptr) {
        return nullptr;
    }
    if (active == nullptr || GetPropA(active, WindowNumberProperty) == nullptr) {
        return nullptr;
    }
    DWORD processId = 0;
    if (GetWindowThreadProcessId(active, &processId) == 0 || processId != GetCurrentProcessId()) {
        return nullptr;
    }
    WindowRecord* record = FindWindowRecord(WindowNumberOf(active));
    return record != nullptr ? record->acceleratorTable : nullptr;
}

} // namespace dovemarl::ui
