#include "support/monitor_closer.h"

#include <algorithm>
#include <cstring>
#include <mutex> // std::lock_guard

namespace testing_support {

namespace {

constexpr DWORD PollIntervalMs = 5;

BOOL CALLBACK CollectMonitor(HWND window, LPARAM argument) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    char title[64] = "";
    WCHAR wtitle[64] = L"";
    InternalGetWindowText(window, wtitle, 64);
    WideCharToMultiByte(CP_ACP, 0, wtitle, -1, title, sizeof title, nullptr, nullptr);
    if (processId == GetCurrentProcessId() && std::strcmp(title, MonitorTitle) == 0) {
        reinterpret_cast<std::vector<HWND>*>(argument)->push_back(window);
    }
    return TRUE;
}

} // namespace

std::vector<HWND> OpenMonitors() {
    std::vector<HWND> monitors;
    EnumWindows(CollectMonitor, reinterpret_cast<LPARAM>(&monitors));
    return monitors;
}

MonitorCloser::MonitorCloser(OnMonitor onMonitor, DWORD closeAfterMs)
    : onMonitor_(std::move(onMonitor)), closeAfterMs_(closeAfterMs) {
    // Monitors already open belong to earlier calls: they are not closed again.
    seen_ = OpenMonitors();
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

MonitorCloser::~MonitorCloser() {
    SetEvent(stop_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(stop_);
}

std::vector<HWND> MonitorCloser::Seen() {
    std::lock_guard lock(mutex_);
    return seen_;
}

DWORD WINAPI MonitorCloser::Run(void* self) {
    auto* closer = static_cast<MonitorCloser*>(self);
    while (WaitForSingleObject(closer->stop_, PollIntervalMs) == WAIT_TIMEOUT) {
        closer->Poll();
    }
    return 0;
}

void MonitorCloser::Poll() {
    for (HWND monitor : OpenMonitors()) {
        {
            std::lock_guard lock(mutex_);
            if (std::find(seen_.begin(), seen_.end(), monitor) != seen_.end()) {
                continue;
            }
            seen_.push_back(monitor);
        }
        if (onMonitor_) {
            onMonitor_(monitor);
        }
        if (WaitForSingleObject(stop_, closeAfterMs_) == WAIT_OBJECT_0) {
            return;
        }
        PostMessageA(monitor, WM_CLOSE, 0, 0);
    }
}

} // namespace testing_support
