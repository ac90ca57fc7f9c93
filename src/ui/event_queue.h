#pragma once
// Each thread's queue of window events: what the window procedure queues and
// later waits hand out, oldest first. Appending and taking hold EventLock.
#include <cstdint>

namespace dovemarl::ui {

struct Event {
    int32_t code;
    int32_t control;
    int32_t window;
    int32_t type;
    int32_t data;
};

// A value of window, control or type that matches any.
constexpr int32_t AnyValue = -1;

// Registers the queue's per-thread area and makes EventLock (event service
// start); the end step forgets both.
void StartEventQueues();
void StopEventQueues();

// Appends to the calling thread's queue, unless the newest entry is the same
// event (code, control, window and type) with a code below 65537: runs of
// identical events collapse into one, and their later data is dropped.
void AppendEvent(const Event& event);
// Takes the oldest entry of the calling thread's queue; false when empty.
bool TakeEvent(Event* event);
// Removes every queued event of one window, keeping the others in order.
void DiscardWindowEvents(int32_t window);
// Removes the queued events with this code that match control, window and
// type (AnyValue matches all).
void DiscardControlEvents(int32_t code, int32_t control, int32_t window, int32_t type);

#ifdef DOVEMARL_TEST_BUILD
// For tests: the calling thread's queued events, oldest first; at most
// capacity are copied, the count of all is returned.
int PeekQueuedEvents(Event* events, int capacity);
#endif

} // namespace dovemarl::ui
