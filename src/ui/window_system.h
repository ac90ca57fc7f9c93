#pragma once
// What the window layer needs of the window system before its first box,
// window or label: set up once per load of the module, by whichever thread
// needs it first, never by the entry point. The entry point runs under the
// loader lock, where a call into user32, gdi32 or comctl32 can wait for a
// lock that another thread holds while it waits for the loader lock.
#include <windows.h>

namespace dovemarl::ui {

// Forgets the set-up of an earlier start of the module. kernel32 only.
void StartWindowSystem();

// Runs the set-up if no thread has yet; a thread that arrives while another
// runs it waits until it is done.
void EnsureWindowSystem();

// The font new labels get (the GUI font), once the set-up has run.
HFONT LabelFont();

#ifdef DOVEMARL_TEST_BUILD
// For tests: since the last start, how many times the set-up ran, and how
// many times it gave the host's common controls their classes.
struct WindowSystemSetUpCounts {
    int setUps;
    int commonControlsInits;
};
WindowSystemSetUpCounts SetUpCounts();
#endif

} // namespace dovemarl::ui
