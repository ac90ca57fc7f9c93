#pragma once
// Small window helpers for tests of window behaviour.
#include <windows.h>

#include <vector>

namespace testing_support {

// Dispatches every message pending for the calling thread, so that state is
// checked only after the system has finished reacting.
void FlushMessages();

enum class Show { Activate, NoActivate, Hidden };

// A plain top-level window of the calling thread (class "DovemarlTestWindow").
HWND MakeWindow(const char* title, DWORD exStyle = 0, Show show = Show::Activate);

// Waits until window is the foreground window; false after two seconds.
bool WaitForForeground(HWND window);

bool IsTopmost(HWND window);

// This process's windows of a class, hidden ones included: the top-level ones
// (EnumWindows) and the message-only ones (under HWND_MESSAGE).
std::vector<HWND> TopLevelWindowsOfClass(const char* name);
std::vector<HWND> MessageOnlyWindowsOfClass(const char* name);

// Sends WM_NULL to every top-level window of the session, as a program's
// broadcast does (SMTO_BLOCK, at most BroadcastLimitMs for each window), and
// returns how long that took; *answered is the call's result.
constexpr UINT BroadcastLimitMs = 2000;
DWORD TimedBroadcast(bool* answered);

// Runs a procedure on a thread of its own that owns a message loop; the
// thread's windows keep being served until Stop.
class WindowThread {
  public:
    WindowThread();
    ~WindowThread();
    // Creates a window on the thread and returns it.
    HWND MakeWindow(const char* title, DWORD exStyle = 0, Show show = Show::Activate);
    DWORD Id() const { return id_; }

  private:
    static DWORD WINAPI Run(void* self);
    HANDLE thread_ = nullptr;
    HANDLE ready_ = nullptr;
    DWORD id_ = 0;
};

} // namespace testing_support
