#include "reference_loop.h"

#include <cstdio>

#include "bench_clock.h"

namespace bench {

namespace {

constexpr int Labels = 7;
constexpr DWORD IdleWaitMs = 10;
constexpr char ClassName[] = "BenchReferenceLoop";

struct LoopArgs {
    const testing_support::GameInfo* record;
    DWORD runMs;
    double cpu;
};

void SetTexts(HWND (&labels)[Labels], const testing_support::GameInfo* record) {
    const int values[Labels] = {static_cast<int>(record->pid),
                                0,
                                record->winx,
                                record->winy,
                                record->winwidth,
                                record->winheight,
                                static_cast<int>(record->hwnd)};
    static const char* const prefixes[Labels] = {
        "Pid: ", "Title: ", "X: ", "Y: ", "Width: ", "Height: ", "Hwnd :"};
    for (int i = 0; i < Labels; ++i) {
        char text[300];
        if (i == 1) {
            std::snprintf(text, sizeof text, "%s%s", prefixes[i],
                          record->title != nullptr ? record->title : "");
        } else {
            std::snprintf(text, sizeof text, "%s%d", prefixes[i], values[i]);
        }
        SetWindowTextA(labels[i], text);
    }
}

DWORD WINAPI RunLoop(void* argument) {
    auto* args = static_cast<LoopArgs*>(argument);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = ClassName;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(WS_EX_TOPMOST, ClassName, "Reference loop",
                                  WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, 400, 300,
                                  300, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    HWND labels[Labels];
    for (int i = 0; i < Labels; ++i) {
        labels[i] = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 10, 10 + 20 * i, 200,
                                    20, window, nullptr, windowClass.hInstance, nullptr);
    }
    // Only the loop counts, as only the monitor's loop does.
    double cpuAtStart = CpuSeconds(GetCurrentThread());
    DWORD start = GetTickCount();
    while (GetTickCount() - start < args->runMs) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, IdleWaitMs, QS_ALLINPUT) == WAIT_TIMEOUT) {
            SetTexts(labels, args->record);
            continue;
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    // Read here: a thread that has ended reports no times under Wine.
    args->cpu = CpuSeconds(GetCurrentThread()) - cpuAtStart;
    DestroyWindow(window);
    UnregisterClassA(ClassName, windowClass.hInstance);
    return 0;
}

} // namespace

double ReferenceLoopCpu(const testing_support::GameInfo* record, DWORD runMs) {
    LoopArgs args = {record, runMs, 0};
    HANDLE thread = CreateThread(nullptr, 0, RunLoop, &args, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return args.cpu;
}

} // namespace bench
