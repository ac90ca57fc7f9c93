// Plug-ins for the lifecycle doctor (standin-host.exe --lifecycle), one build
// per fault (see tests/CMakeLists.txt). Without a fault macro, a plug-in that
// keeps its lifecycle clean: it greets in a box, proposes a title, and makes a
// window of its own class during pluginrun that it destroys and unregisters
// before returning; pluginrun also takes from the process what a plug-in
// often does (see Taken) and pluginunload gives all of it back. With one, the
// same plug-in with that one lifecycle fault:
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
//   FAULT_LIBRARY_AT_ATTACH attach loads a DLL and frees it again
// and one per give-back that pluginunload leaves out:
//   FAULT_TIMER_LEFT, FAULT_HOOK_LEFT, FAULT_VECTORED_LEFT, FAULT_FILTER_LEFT,
//   FAULT_FLS_LEFT, FAULT_SUBCLASS_LEFT, FAULT_WORKER_LEFT (the worker,
//   started through the C runtime, stays blocked in its wait), and
//   FAULT_BRUSH_LEFT, FAULT_HEAP_LEFT, FAULT_TLS_LEFT, FAULT_ATOM_LEFT,
//   FAULT_MEMORY_LEFT
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

#include <process.h>

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

// What pluginrun takes and pluginunload gives back, callbacks first.
struct Taken {
    UINT_PTR timer;
    HHOOK hook;
    void* vectoredHandler;
    LPTOP_LEVEL_EXCEPTION_FILTER previousFilter;
    DWORD flsSlot;
    HWND subclassed;
    WNDPROC previousProcedure;
    HANDLE worker;
    HANDLE workerGo;
    HGDIOBJ brush;
    HANDLE heap;
    DWORD tlsSlot;
    ATOM atom;
    void* memory;
};
Taken Run = {};
constexpr DWORD TimerPeriodMs = 50;
constexpr SIZE_T MemoryBytes = 1024 * 1024;
// A name of its own for every run, as a plug-in that names an atom after a
// window or a time makes them: each one left is one more in the table.
constexpr char AtomNameFormat[] = "LifecycleDoubleAtom%lu";

void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {}

LRESULT CALLBACK OnMessage(int code, WPARAM wParam, LPARAM lParam) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LONG CALLBACK OnException(EXCEPTION_POINTERS*) {
    return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS*) {
    return EXCEPTION_CONTINUE_SEARCH;
}

void WINAPI OnThreadEnd(void*) {}

LRESULT CALLBACK Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(Run.previousProcedure, window, message, wParam, lParam);
}

unsigned __stdcall Worker(void* go) {
    WaitForSingleObject(go, INFINITE);
    return 0;
}

void Take(HWND game) {
    Run.timer = SetTimer(nullptr, 0, TimerPeriodMs, OnTimer);
    Run.hook = SetWindowsHookExA(WH_GETMESSAGE, OnMessage, nullptr, GetCurrentThreadId());
    Run.vectoredHandler = AddVectoredExceptionHandler(1, OnException);
    Run.previousFilter = SetUnhandledExceptionFilter(OnUnhandledException);
    Run.flsSlot = FlsAlloc(OnThreadEnd);
    FlsSetValue(Run.flsSlot, &Run);
    if (IsWindow(game)) {
        Run.subclassed = game;
        Run.previousProcedure = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(game, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Subclass)));
    }
    Run.workerGo = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Run.worker =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Worker, Run.workerGo, 0, nullptr));
    Run.brush = CreateSolidBrush(RGB(0x2E, 0x5E, 0x4E));
    Run.heap = HeapCreate(0, 0, 0);
    Run.tlsSlot = TlsAlloc();
    char atomName[64];
    wsprintfA(atomName, AtomNameFormat, GetTickCount());
    Run.atom = GlobalAddAtomA(atomName);
    Run.memory = VirtualAlloc(nullptr, MemoryBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void GiveBack() {
#ifndef FAULT_TIMER_LEFT
    KillTimer(nullptr, Run.timer);
#endif
#ifndef FAULT_HOOK_LEFT
    UnhookWindowsHookEx(Run.hook);
#endif
#ifndef FAULT_VECTORED_LEFT
    RemoveVectoredExceptionHandler(Run.vectoredHandler);
#endif
#ifndef FAULT_FILTER_LEFT
    SetUnhandledExceptionFilter(Run.previousFilter);
#endif
#ifndef FAULT_FLS_LEFT
    FlsFree(Run.flsSlot);
#endif
#ifndef FAULT_SUBCLASS_LEFT
    if (Run.subclassed != nullptr) {
        SetWindowLongPtrA(Run.subclassed, GWLP_WNDPROC,
                          reinterpret_cast<LONG_PTR>(Run.previousProcedure));
    }
#endif
#ifndef FAULT_WORKER_LEFT
    SetEvent(Run.workerGo);
    WaitForSingleObject(Run.worker, INFINITE);
    CloseHandle(Run.worker);
    CloseHandle(Run.workerGo);
#endif
#ifndef FAULT_BRUSH_LEFT
    DeleteObject(Run.brush);
#endif
#ifndef FAULT_HEAP_LEFT
    HeapDestroy(Run.heap);
#endif
#ifndef FAULT_TLS_LEFT
    TlsFree(Run.tlsSlot);
#endif
#ifndef FAULT_ATOM_LEFT
    GlobalDeleteAtom(Run.atom);
#endif
#ifndef FAULT_MEMORY_LEFT
    VirtualFree(Run.memory, 0, MEM_RELEASE);
#endif
    Run = {};
}

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
#ifdef FAULT_LIBRARY_AT_ATTACH
        FreeLibrary(LoadLibraryA("msimg32.dll"));
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
    Take(record != nullptr ? reinterpret_cast<HWND>(static_cast<uintptr_t>(record->hwnd))
                           : nullptr);
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
    GiveBack();
    return 0;
}

} // extern "C"
