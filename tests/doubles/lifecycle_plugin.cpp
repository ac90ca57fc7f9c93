// Plug-ins for the lifecycle doctor (standin-host.exe --lifecycle), one build
// per fault (see tests/CMakeLists.txt). Without a fault macro, a plug-in that
// keeps its lifecycle clean: it greets in a box, proposes a title, and makes a
// window of its own class during pluginrun that it destroys and unregisters
// before returning. With one, the same plug-in with that one lifecycle fault:
//   FAULT_HANDLE_PER_LOAD   an event opened at every attach and never closed
//   FAULT_THREAD_LEFT       pluginrun starts a thread that loops in the image
//                           and is never stopped
//   FAULT_WINDOW_LEFT       pluginrun's window is neither destroyed nor its
//                           class unregistered
//   FAULT_CLASS_LEFT        pluginrun registers a second class, makes no
//                           window of it and never unregisters it
//   FAULT_WINDOW_AT_ATTACH  attach makes a message-only window (destroyed at
//                           detach)
//   FAULT_COMCTL32_IMPORT   imports comctl32 (called only from pluginrun)
//   FAULT_WINMM_IMPORT      imports winmm (called only from pluginrun)
//   FAULT_OLE32_INDIRECT    imports oleaut32, which imports ole32
//   FAULT_HANG_IN_UNLOAD    pluginunload never returns
//   FAULT_CRASH_AT_EXIT     pluginunload leaves a function of the image with
//                           the process's C runtime (msvcrt's atexit), which
//                           calls it when the process exits, after the unload
#include <windows.h>

#ifdef FAULT_COMCTL32_IMPORT
#include <commctrl.h>
#endif
#ifdef FAULT_WINMM_IMPORT
#include <mmsystem.h>
#endif
#ifdef FAULT_OLE32_INDIRECT
#include <oleauto.h>
#endif

#include <cstdint>

#include "dovemarl/plugin_contract.h"

namespace {

constexpr char Proposal[] = "Tidewarden - proposed by the lifecycle double";
constexpr char ClassName[] = "LifecycleDoubleWindow";
[[maybe_unused]] constexpr char LeftClassName[] = "LifecycleDoubleLeftClass";
constexpr DWORD ThreadNapMs = 100;

HINSTANCE Instance = nullptr;
[[maybe_unused]] HWND AttachWindow = nullptr;

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

#ifdef FAULT_CRASH_AT_EXIT
// Does nothing: by the time it is called its image is gone.
void __cdecl AtExit() {}

// msvcrt's own atexit, not the DLL's (whose list runs at the unload): the
// host's C runtime calls it from exit(), in the host's last moments.
void LeaveWorkForTheProcessExit() {
    using AtExitFunction = int(__cdecl*)(void(__cdecl*)());
    auto atExit = reinterpret_cast<AtExitFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("msvcrt.dll"), "atexit")));
    if (atExit != nullptr) {
        atExit(AtExit);
    }
}
#endif

[[maybe_unused]] DWORD WINAPI Loop(void*) {
    for (;;) {
        Sleep(ThreadNapMs);
    }
}

// A window of the plug-in's own class on the calling thread.
HWND MakeWindow() {
    WNDCLASSA cls = {};
    cls.lpfnWndProc = Procedure;
    cls.hInstance = Instance;
    cls.lpszClassName = ClassName;
    RegisterClassA(&cls);
    return CreateWindowExA(0, ClassName, "lifecycle double", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                           nullptr, Instance, nullptr);
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        Instance = instance;
#ifdef FAULT_HANDLE_PER_LOAD
        CreateEventA(nullptr, TRUE, FALSE, nullptr);
#endif
#ifdef FAULT_WINDOW_AT_ATTACH
        AttachWindow = CreateWindowExA(0, "Static", "made at attach", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                       nullptr, instance, nullptr);
#endif
    } else if (reason == DLL_PROCESS_DETACH) {
#ifdef FAULT_WINDOW_AT_ATTACH
        DestroyWindow(AttachWindow);
#endif
    }
    return TRUE;
}

extern "C" {

__declspec(dllexport) int32_t __stdcall pluginload(int32_t) {
    MessageBoxA(nullptr, "Hello from the lifecycle double", "Lifecycle double", MB_OK);
    return 0;
}

__declspec(dllexport) int32_t __stdcall pluginrun(dovemarl::GameInfo* record) {
    if (record != nullptr) {
        record->newtitle = Proposal;
    }
#ifdef FAULT_COMCTL32_IMPORT
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
#endif
#ifdef FAULT_WINMM_IMPORT
    timeGetTime();
#endif
#ifdef FAULT_OLE32_INDIRECT
    SysFreeString(nullptr);
#endif
#ifdef FAULT_CLASS_LEFT
    WNDCLASSA left = {};
    left.lpfnWndProc = Procedure;
    left.hInstance = Instance;
    left.lpszClassName = LeftClassName;
    RegisterClassA(&left);
#endif
#ifdef FAULT_THREAD_LEFT
    CloseHandle(CreateThread(nullptr, 0, Loop, nullptr, 0, nullptr));
#endif
    HWND window = MakeWindow();
#ifndef FAULT_WINDOW_LEFT
    DestroyWindow(window);
    UnregisterClassA(ClassName, Instance);
#else
    (void)window;
#endif
    return 0;
}

__declspec(dllexport) int32_t __stdcall pluginunload(int32_t) {
#ifdef FAULT_HANG_IN_UNLOAD
    Sleep(INFINITE);
#endif
#ifdef FAULT_CRASH_AT_EXIT
    LeaveWorkForTheProcessExit();
#endif
    return 0;
}

} // extern "C"
