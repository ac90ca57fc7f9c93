#pragma once
// The message-only window through which another thread can hand an event to
// the queue of the thread that made the window: it sends the registered
// CrossThreadEvent message with a MainHeap record describing the event.
#include <windows.h>

#include <cstdint>

namespace dovemarl::ui {

// What a sender allocates from MainHeap and passes as lParam; the window's
// procedure appends the event and frees the record.
struct PostedEvent {
    int32_t unused;
    int32_t code;
    int32_t control;
    int32_t window;
    int32_t type;
    int32_t data;
};

// Makes the window on the calling thread unless it exists (the first
// time also "PostEventClass" and the CrossThreadEvent message): on the first
// pluginrun, or when the thread that made it has ended. Any thread may call it.
void EnsurePostWindow();
// Destroys the window and its class if they were made, or retires them when
// the window belongs to another thread than the detaching one.
void StopPostWindow();

// The window and its message, made first if need be.
HWND EventPostWindow();
UINT CrossThreadEventMessage();
LRESULT CALLBACK PostEventProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace dovemarl::ui
