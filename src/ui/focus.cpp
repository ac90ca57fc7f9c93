#include "ui/focus.h"

#include <cstring>

#include "ui/window_class.h"

namespace dovemarl::ui {

namespace {

constexpr LRESULT HiddenCues = UISF_HIDEFOCUS | UISF_HIDEACCEL;
// A combo box ex of this style, and an IP address control, take the focus as
// a whole rather than through their inner edit fields.
constexpr LONG ComboBoxExEditable = 0x1;

struct TabWalk {
    HWND current; // the control that has the focus, or null
    bool backwards;
    bool passedCurrent;
    bool done;
    HWND previous; // the tab stop seen last
    HWND first;
    int seen;
};

bool IsTabStop(HWND window) {
    return IsWindowEnabled(window) && IsWindowVisible(window) &&
           (GetWindowLongA(window, GWL_STYLE) & WS_TABSTOP) != 0;
}

BOOL CALLBACK VisitTabStop(HWND window, LPARAM argument) {
    auto* walk = reinterpret_cast<TabWalk*>(argument);
    if (!IsTabStop(window)) {
        return TRUE;
    }
    ++walk->seen;
    if (walk->first == nullptr) {
        walk->first = window;
    }
    if (walk->backwards) {
        if (window == walk->current && walk->previous != nullptr) {
            SetFocus(walk->previous);
            walk->done = true;
            return FALSE;
        }
        walk->previous = window;
        return TRUE;
    }
    if (walk->passedCurrent || walk->current == nullptr) {
        SetFocus(window);
        walk->passedCurrent = false;
        walk->done = true;
        return FALSE;
    }
    if (window == walk->current) {
        walk->passedCurrent = true;
    }
    return TRUE;
}

bool ClassIs(HWND window, const char* name) {
    char className[ClassNameCapacity] = "";
    GetClassNameA(window, className, ClassNameCapacity);
    return std::strcmp(className, name) == 0;
}

} // namespace

void CycleFocus(bool backwards) {
    HWND container = GetActiveWindow();
    HWND focus = GetFocus();
    HWND current = focus != nullptr && IsChild(container, focus) ? focus : nullptr;
    if (current != nullptr) {
        // Composite controls and MDI children change what counts as the
        // container and as the current control.
        for (HWND window = focus; window != nullptr; window = GetParent(window)) {
            if (ClassIs(window, "MDI_ChildClass")) {
                container = window;
                if (window == focus) {
                    current = nullptr;
                }
            } else if ((ClassIs(window, "ComboBoxEx32") &&
                        (GetWindowLongA(window, GWL_STYLE) & ComboBoxExEditable) != 0) ||
                       ClassIs(window, "SysIPAddress32")) {
                current = window;
            }
        }
    }
    TabWalk walk = {current, backwards, false, false, nullptr, nullptr, 0};
    EnumChildWindows(container, VisitTabStop, reinterpret_cast<LPARAM>(&walk));
    if (walk.done) {
        return;
    }
    if (!backwards && walk.passedCurrent) {
        SetFocus(walk.first); // the current control was the last: wrap around
    } else if (backwards && walk.seen > 0) {
        SetFocus(walk.previous); // the last tab stop
    }
}

void SetFocusCues(HWND window, bool show) {
    LRESULT state = SendMessageA(window, WM_QUERYUISTATE, 0, 0);
    if (show && (state & HiddenCues) != 0) {
        SendMessageA(window, WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, HiddenCues), 0);
    } else if (!show && (state & HiddenCues) != HiddenCues) {
        SendMessageA(window, WM_UPDATEUISTATE, MAKEWPARAM(UIS_SET, HiddenCues), 0);
    }
}

} // namespace dovemarl::ui
