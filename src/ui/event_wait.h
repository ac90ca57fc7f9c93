#pragma once
// Waiting for window events: the calling thread's oldest queued event, or one
// message from its Win32 queue, handled, or 0 when the time-out passes first.
#include <cstdint>

#include "ui/event_state.h"

namespace dovemarl::ui {

constexpr int32_t WaitForever = -1;

// Returns the oldest queued event; else takes one message for any window of
// the thread (or the thread itself), translates and dispatches it, and returns
// the immediate event it produced or else the message's number. Returns 0 when
// timeoutMs passes with nothing to take, at once for 0. -1 waits without limit.
int32_t WaitEvent(int32_t timeoutMs);

// What the last event returned concerned (window number, control, ...);
// null before the thread has waited.
const EventDetails* LastEventDetails();

} // namespace dovemarl::ui
