// A host process that meets a plug-in in a cold Wine prefix, where nothing of
// the display has been set up yet, with another thread setting it up at the
// same moment. A plug-in whose load or run needs the loader lock and the
// display together hangs here; the driver script bounds each run with a
// time-out.
//   cold_host.exe load PLUGIN.dll   a thread makes the process's first window
//                                   while the main thread loads the plug-in
//   cold_host.exe run PLUGIN.dll    pluginrun, while another thread polls and
//                                   makes windows the whole time
// Prints what it did and exits 0, or 1 when the plug-in did not load or left
// comctl32 in a host that had none.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "dovemarl/plugin_contract.h"
#include "box_watcher.h"
#include "support/monitor_closer.h"

namespace {

constexpr char CommonControlsName[] = "comctl32.dll";

HANDLE Stop = nullptr;

// The process's first window, made, shown and painted while the main thread
// loads the plug-in.
DWORD WINAPI MakeFirstWindow(void* ready) {
    SetEvent(ready);
    HWND window = CreateWindowExA(0, "Static", "cold host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                  200, 100, nullptr, nullptr, nullptr, nullptr);
    HDC dc = GetDC(window);
    ReleaseDC(window, dc);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&message);
    }
    DestroyWindow(window);
    return 0;
}

// One round of what a host's UI thread does beside a plug-in: looks for
// windows, draws, and opens and closes a window of its own.
void PollOnce() {
    HWND found = FindWindowA(nullptr, "cold host");
    HDC dc = GetDC(found);
    ReleaseDC(found, dc);
    HWND window = CreateWindowExA(0, "Static", "cold host", WS_OVERLAPPED, 0, 0, 50, 20, nullptr,
                                  nullptr, nullptr, nullptr);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageA(&message);
    }
    DestroyWindow(window);
}

// Polls without a pause until the run is over. Its first round makes the
// process's first window as the run starts. The helpers that answer boxes and
// close the monitor start only after it: they look for windows, and so would
// set the display up before the run and hide what this host is here to show.
DWORD WINAPI PollWindows(void* ready) {
    SetEvent(ready);
    PollOnce();
    standin::BoxWatcher boxes;
    testing_support::MonitorCloser monitors;
    while (WaitForSingleObject(Stop, 0) == WAIT_TIMEOUT) {
        PollOnce();
    }
    return 0;
}

HANDLE Start(LPTHREAD_START_ROUTINE procedure, void* argument) {
    return CreateThread(nullptr, 0, procedure, argument, 0, nullptr);
}

void Finish(HANDLE thread) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

double MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1e3 /
           static_cast<double>(frequency.QuadPart);
}

int LoadBesideFirstWindow(const char* plugin) {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE windowThread = Start(MakeFirstWindow, ready);
    WaitForSingleObject(ready, INFINITE);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    HMODULE module = LoadLibraryA(plugin);
    std::printf("load: %s %s in %.1f ms\n", plugin, module != nullptr ? "loaded" : "failed",
                MillisecondsSince(start));
    Finish(windowThread);
    CloseHandle(ready);
    if (module == nullptr) {
        return 1;
    }
    FreeLibrary(module);
    std::printf("load: unloaded\n");
    return 0;
}

int RunBesidePolling(const char* plugin) {
    HMODULE module = LoadLibraryA(plugin);
    auto run = reinterpret_cast<dovemarl::PluginRunFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, dovemarl::PluginRunName)));
    if (run == nullptr) {
        std::printf("run: %s did not load or has no %s\n", plugin, dovemarl::PluginRunName);
        return 1;
    }
    if (GetModuleHandleA(CommonControlsName) != nullptr) {
        std::printf("run: comctl32 was loaded before the run; this host must start without it\n");
        return 1;
    }
    dovemarl::GameInfo record = {};
    record.pid = static_cast<int32_t>(GetCurrentProcessId());
    record.title = "Game";
    Stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE poller = Start(PollWindows, ready);
    WaitForSingleObject(ready, INFINITE);
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    run(&record);
    bool broughtCommonControls = GetModuleHandleA(CommonControlsName) != nullptr;
    std::printf("run: returned in %.1f ms; comctl32 %s\n", MillisecondsSince(start),
                broughtCommonControls ? "loaded by the run" : "still not loaded");
    SetEvent(Stop);
    Finish(poller);
    CloseHandle(ready);
    CloseHandle(Stop);
    FreeLibrary(module);
    std::printf("run: unloaded\n");
    return broughtCommonControls ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc == 3 && std::strcmp(argv[1], "load") == 0) {
        return LoadBesideFirstWindow(argv[2]);
    }
    if (argc == 3 && std::strcmp(argv[1], "run") == 0) {
        return RunBesidePolling(argv[2]);
    }
    std::printf("usage: cold_host.exe load|run PLUGIN.dll\n");
    return 2;
}
