#pragma once
// Records of windows and controls whose thread has ended.

namespace dovemarl::ui {

// Gives back the window and control records made on the thread whose event
// state this is, once the system has destroyed their windows with the thread.
// Runs on a watcher thread, after that thread has ended.
void ForgetEndedThreadWindows(const void* threadState);

} // namespace dovemarl::ui
