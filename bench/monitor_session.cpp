#include "monitor_session.h"

#include "support/monitor_closer.h"

namespace bench {

namespace {
constexpr DWORD ReturnTimeoutMs = 10000;
}

HWND VisibleMonitor() {
    HWND window = FindWindowA(nullptr, testing_support::MonitorTitle);
    return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

MonitorSession::MonitorSession(testing_support::PluginLibrary& plugin,
                               testing_support::GameInfo* record)
    : plugin_(plugin), record_(record) {
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

MonitorSession::~MonitorSession() {
    Close();
    CloseHandle(thread_);
}

DWORD WINAPI MonitorSession::Run(void* self) {
    auto* session = static_cast<MonitorSession*>(self);
    return static_cast<DWORD>(session->plugin_.run(session->record_));
}

HWND MonitorSession::WaitForMonitor(DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while ((monitor_ = VisibleMonitor()) == nullptr && GetTickCount() - start < timeoutMs) {
        Sleep(1);
    }
    return monitor_;
}

void MonitorSession::Close() {
    if (WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0) {
        return;
    }
    if (monitor_ == nullptr) {
        monitor_ = WaitForMonitor(ReturnTimeoutMs);
    }
    PostMessageA(monitor_, WM_CLOSE, 0, 0);
    WaitForSingleObject(thread_, ReturnTimeoutMs);
}

} // namespace bench
