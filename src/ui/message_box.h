#pragma once
// Modal message boxes that suspend the calling thread's other top-level
// windows while they are up and put back exactly what they changed.
#include <cstdint>

namespace dovemarl::ui {

// Shows MessageBoxA(owner, text, title, flags) and returns its result (0 when
// the box could not be shown). Blocks until the user dismisses the box.
int32_t ShowMessageBox(const char* title, const char* text, uint32_t flags);
int32_t ShowMessageBoxDefault(const char* title, const char* text);

// Message-box service start and end: the lock around the suspended-window list.
void StartMessageBoxService();
void StopMessageBoxService();

#ifdef DOVEMARL_TEST_BUILD
// What the suspended-window list holds (for tests): the number of records over
// all threads, and the flags recorded for one window (0 when not recorded).
int CountSuspendedWindows();
struct SuspendedWindowFlags {
    bool recorded;
    bool wasTopmost;
    bool wasDisabled;
};
SuspendedWindowFlags FindSuspendedWindow(void* window);
#endif

} // namespace dovemarl::ui
