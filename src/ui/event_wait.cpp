#include "ui/event_wait.h"

#include <windows.h>

#include "ui/event_queue.h"
#include "ui/event_state.h"
#include "ui/focus.h"
#include "ui/window_codes.h"
#include "ui/window_proc.h"

namespace dovemarl::ui {

namespace {

// Every kind of input, posted messages included.
constexpr DWORD WakeMask = QS_ALLINPUT | QS_ALLPOSTMESSAGE; // 0x5FF
constexpr UINT PeekFlags = PM_REMOVE | PM_NOYIELD;

bool PeekOne(MSG* msg) {
    return PeekMessageA(msg, nullptr, 0, 0, PeekFlags) != FALSE;
}

// Gets one message by the time-out; false when there is none to handle.
bool GetOneMessage(int32_t timeoutMs, MSG* msg) {
    if (timeoutMs == WaitForever) {
        GetMessageA(msg, nullptr, 0, 0); // WM_QUIT is handled like any other
        return true;
    }
    if (PeekOne(msg)) {
        return true;
    }
    if (timeoutMs == 0) {
        return false;
    }
    DWORD woke =
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeoutMs), WakeMask);
    if (woke == WAIT_TIMEOUT) {
        return false;
    }
    // Input that was a message sent from another thread has been delivered
    // inside the peek already; then there is nothing left to take.
    return PeekOne(msg);
}

// Tab and Shift+Tab go through the active window's accelerators; everything
// else is translated and dispatched as usual.
void Handle(MSG* msg) {
    HWND active = GetActiveWindow();
    HACCEL table = AcceleratorsFor(active);
    if (table != nullptr && TranslateAcceleratorA(active, table, msg) != 0) {
        if (active != nullptr) {
            SetFocusCues(active, true);
        }
        return;
    }
    TranslateMessage(msg);
    DispatchMessageA(msg);
}

void KeepCopy(EventState* state) {
    state->last = {state->control, state->window, state->type,
                   state->wParam,  state->lParam, state->data};
}

} // namespace

int32_t WaitEvent(int32_t timeoutMs) {
    EventState* state = ThisThreadEventState();
    if (state == nullptr) {
        return EventNone;
    }
    ReleaseAttachedData(state);
    state->type = -1;
    state->pending = 0;
    state->data = 0;

    int32_t result = 0;
    Event event = {};
    if (TakeEvent(&event)) {
        state->control = event.control;
        state->window = event.window;
        state->type = event.type;
        state->data = event.data;
        state->wParam = state->lParam = 0;
        result = event.code;
    } else {
        MSG msg = {};
        if (!GetOneMessage(timeoutMs, &msg)) {
            return EventNone;
        }
        Handle(&msg);
        if (state->pending != 0) {
            result = state->pending;
            state->pending = 0;
        } else {
            result = static_cast<int32_t>(msg.message);
            state->wParam = static_cast<int32_t>(msg.wParam);
            state->lParam = static_cast<int32_t>(msg.lParam);
        }
    }
    KeepCopy(state);
    return result;
}

const EventDetails* LastEventDetails() {
    EventState* state = ExistingEventState();
    return state != nullptr ? &state->last : nullptr;
}

} // namespace dovemarl::ui
