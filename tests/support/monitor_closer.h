#pragma once
// Watches for the plug-in's monitor windows in this process and asks each one
// to close (as a user clicking its close box would) once it has been seen, so
// that pluginrun returns. Runs on a thread of its own.
#include <windows.h>

#include <functional>
#include <vector>

#include "support/handle_free_lock.h"

namespace testing_support {

constexpr char MonitorTitle[] = "Dovemarl Window Test";

class MonitorCloser {
  public:
    // onMonitor runs on the closer's thread before the close request; it may
    // inspect the window while the loop runs. closeAfterMs delays the request.
    using OnMonitor = std::function<void(HWND)>;
    explicit MonitorCloser(OnMonitor onMonitor = {}, DWORD closeAfterMs = 0);
    ~MonitorCloser();
    MonitorCloser(const MonitorCloser&) = delete;
    MonitorCloser& operator=(const MonitorCloser&) = delete;

    std::vector<HWND> Seen();

  private:
    static DWORD WINAPI Run(void* self);
    void Poll();

    OnMonitor onMonitor_;
    DWORD closeAfterMs_;
    HANDLE thread_ = nullptr;
    HANDLE stop_ = nullptr;
    HandleFreeLock mutex_; // the tests count handles while it runs
    std::vector<HWND> seen_;
};

// The monitor windows of this process that are open now.
std::vector<HWND> OpenMonitors();

} // namespace testing_support
