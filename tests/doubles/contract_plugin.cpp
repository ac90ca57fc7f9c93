// Plug-ins for the stand-in host's contract check, one build per fault (see
// tests/CMakeLists.txt): without a fault macro, a plug-in that keeps the
// contract and shows a monitor window of the record; with one, the same
// plug-in broken in that one way.
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "dovemarl/plugin_contract.h"

namespace {

using dovemarl::GameInfo;

[[maybe_unused]] constexpr char Proposal[] = "Tidewarden - proposed by the double";
constexpr char MonitorTitle[] = "Dovemarl Window Test";
constexpr char MonitorClass[] = "ContractPluginMonitor";
constexpr int LabelCount = 7;
constexpr int LabelHeight = 20;
constexpr int LabelWidth = 280;
constexpr int MonitorSize = 300;
constexpr DWORD RefreshMs = 10;

volatile LONG CloseRequested = 0;

LRESULT CALLBACK MonitorProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        InterlockedExchange(&CloseRequested, 1);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void Refresh(HWND* labels, const GameInfo* record) {
    char text[LabelCount][300];
    std::snprintf(text[0], sizeof text[0], "Pid: %d", record->pid);
    std::snprintf(text[1], sizeof text[1], "Title: %s", record->title ? record->title : "");
    std::snprintf(text[2], sizeof text[2], "X: %d", record->winx);
    std::snprintf(text[3], sizeof text[3], "Y: %d", record->winy);
    std::snprintf(text[4], sizeof text[4], "Width: %d", record->winwidth);
    std::snprintf(text[5], sizeof text[5], "Height: %d", record->winheight);
    std::snprintf(text[6], sizeof text[6], "Hwnd :%d", static_cast<int32_t>(record->hwnd));
    for (int i = 0; i < LabelCount; ++i) {
        SetWindowTextA(labels[i], text[i]);
    }
}

// Shows the record until the monitor window is asked to close, serving the
// thread's other windows meanwhile.
void ShowMonitor(const GameInfo* record) {
    WNDCLASSA cls = {};
    cls.lpfnWndProc = MonitorProcedure;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = MonitorClass;
    RegisterClassA(&cls);
    HWND monitor =
        CreateWindowExA(WS_EX_TOPMOST, MonitorClass, MonitorTitle,
                        WS_CAPTION | WS_SYSMENU | WS_VISIBLE, record->winx, record->winy,
                        MonitorSize, MonitorSize, nullptr, nullptr, cls.hInstance, nullptr);
    HWND labels[LabelCount];
    for (int i = 0; i < LabelCount; ++i) {
        labels[i] =
            CreateWindowExA(0, "Static", "", WS_CHILD | WS_VISIBLE, 10, 10 + i * LabelHeight,
                            LabelWidth, LabelHeight, monitor, nullptr, cls.hInstance, nullptr);
    }
    InterlockedExchange(&CloseRequested, 0);
    while (!CloseRequested) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, RefreshMs, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
        Refresh(labels, record);
    }
    DestroyWindow(monitor);
    UnregisterClassA(MonitorClass, cls.hInstance);
}

} // namespace

#ifdef WITH_MONITOR
constexpr bool WithMonitor = true;
#else
constexpr bool WithMonitor = false;
#endif

#ifdef FAULT_CDECL
#define RUN_CONVENTION __cdecl
#else
#define RUN_CONVENTION __stdcall
#endif

// A build with a .def file takes its export names and ordinals from there
// alone: lld lets a dllexport attribute override the .def file's ordinals.
#ifdef EXPORTS_FROM_DEF
#define PLUGIN_EXPORT
#else
#define PLUGIN_EXPORT __declspec(dllexport)
#endif

extern "C" {

PLUGIN_EXPORT int32_t __stdcall pluginload(int32_t) {
    return 0;
}

PLUGIN_EXPORT int32_t RUN_CONVENTION pluginrun(GameInfo* record) {
#if defined(FAULT_CRASH)
    *static_cast<volatile int32_t*>(nullptr) = record->pid;
#elif defined(FAULT_BAD_NEWTITLE)
    record->newtitle = reinterpret_cast<const char*>(0x10);
#else
    record->newtitle = Proposal;
#endif
#ifdef FAULT_WRITES_FIELD
    record->winx = 12345;
#endif
#ifdef FAULT_NONZERO
    return 7;
#endif
    if (WithMonitor) {
        ShowMonitor(record);
    }
    return 0;
}

PLUGIN_EXPORT int32_t __stdcall pluginunload(int32_t) {
    return 0;
}

} // extern "C"
