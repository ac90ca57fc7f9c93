#pragma once
// Each thread's event state: what the event the last wait returned concerned,
// and the immediate event that the window procedure produced while the wait
// was dispatching a message.
#include <cstdint>

namespace dovemarl::ui {

// What an event concerned, as the last wait that returned one left it.
struct EventDetails {
    int32_t control;
    int32_t window;
    int32_t type;
    int32_t wParam;
    int32_t lParam;
    int32_t data;
};

// Data that a caller may attach to its thread's state: a MainHeap record whose
// sixth field points to a further MainHeap block. Released at every wait.
constexpr int AttachedWordCount = 5;
struct AttachedData {
    int32_t fields[AttachedWordCount];
    void* inner;
};

struct EventState {
    int32_t control; // control, menu item, timer or window number
    int32_t window;  // the window whose message was handled last, or -1
    int32_t type;    // the event's type, a notification code, or -1
    int32_t pending; // immediate event of the message being dispatched, 0 for none
    int32_t wParam;  // of the last message
    int32_t lParam;
    int32_t data; // data word of a queued event
    EventDetails last;
    void* threadHook; // a thread-wide message hook; none in this module
    AttachedData* attached;
};

// Registers the event state's area (released when its thread ends) and the
// window layer's sizing area (window service start).
void RegisterEventStateAreas();
void ForgetEventStateAreas();

// The calling thread's state, made on first use; null if it cannot be made.
EventState* ThisThreadEventState();
// The same without making anything, for shutdown.
EventState* ExistingEventState();

// Frees the attached data, inner block first, and clears the pointer.
void ReleaseAttachedData(EventState* state);

} // namespace dovemarl::ui
