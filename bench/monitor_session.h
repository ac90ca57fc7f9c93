#pragma once
// One pluginrun of the loaded plug-in on a worker thread of its own, as a host
// thread would make it: its boxes are answered by a watcher, and the session
// waits for the monitor window and closes it at the end.
#include <windows.h>

#include "support/plugin_library.h"

namespace bench {

class MonitorSession {
  public:
    MonitorSession(testing_support::PluginLibrary& plugin, testing_support::GameInfo* record);
    ~MonitorSession();
    MonitorSession(const MonitorSession&) = delete;
    MonitorSession& operator=(const MonitorSession&) = delete;

    // The visible monitor window, waited for up to timeoutMs; null if none.
    HWND WaitForMonitor(DWORD timeoutMs);
    HANDLE Thread() const { return thread_; }
    // Asks the monitor to close and waits for pluginrun to return.
    void Close();

  private:
    static DWORD WINAPI Run(void* self);
    testing_support::PluginLibrary& plugin_;
    testing_support::GameInfo* record_;
    HANDLE thread_ = nullptr;
    HWND monitor_ = nullptr;
};

// The visible monitor window of this process, or null.
HWND VisibleMonitor();

} // namespace bench
