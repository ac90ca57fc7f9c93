#pragma once
// Retiring windows that outlive the module: at detach, a window of another
// thread cannot be destroyed (DestroyWindow works only on the creating
// thread), and any procedure of it that points into the module would crash
// the host at its next message once the module's code is unmapped.
#include <windows.h>

namespace dovemarl::ui {

bool OwnedByCallingThread(HWND window);

// Hands a window of another thread to the system: its procedure becomes
// DefWindowProcA and a posted WM_CLOSE lets its own thread destroy it.
void HandWindowToSystem(HWND window);

// Every window procedure of the module runs its work through this, counted
// while it runs, so that an unload on another thread can tell when no thread
// is inside one (see AwaitWindowProcedures).
using MessageHandler = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT RunCounted(MessageHandler handler, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// At detach, after every window of another thread has been handed to the
// system: waits until no thread is inside one of the module's window
// procedures any more, and the threads of the windows handed over are out of
// the module's code, but no longer than a few seconds.
void AwaitWindowProcedures();

// Puts previous back as the window's procedure when ours is the top of its
// subclass chain; a subclass made on top of ours is left alone.
void RemoveSubclass(HWND window, WNDPROC ours, WNDPROC previous);

} // namespace dovemarl::ui
