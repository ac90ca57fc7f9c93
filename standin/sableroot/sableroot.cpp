// A stand-in for the host's query library, "sableroot.dll": it answers each
// query from the live game window that the record's hwnd names, and 0 or the
// empty text when hwnd names no window.
#include <windows.h>

#include <cstdint>
#include <type_traits>

#include "dovemarl/plugin_contract.h"

namespace {

using dovemarl::GameInfo;

HWND GameWindow(const GameInfo* info) {
    if (info == nullptr) {
        return nullptr;
    }
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(info->hwnd));
    return IsWindow(window) ? window : nullptr;
}

RECT GameRect(const GameInfo* info) {
    RECT rect = {};
    if (HWND window = GameWindow(info)) {
        GetWindowRect(window, &rect);
    }
    return rect;
}

// getgametitle's answer stays readable after the call: each thread has its
// own buffer, valid until that thread asks again. The buffers live in a heap
// of the library's own, under a TLS slot of its own: a thread's buffer goes
// when the thread ends, and every buffer with the heap when the library is
// unloaded, so that nothing of a query outlives the library. (A thread_local
// would not do: its runtime keeps per-thread records, each holding handles,
// for every thread still alive at the unload.)
constexpr DWORD TitleCapacity = 512;
DWORD TitleSlot = TLS_OUT_OF_INDEXES;
HANDLE TitleHeap = nullptr;
char NoTitle[1] = "";

char* TitleBuffer() {
    if (TitleSlot == TLS_OUT_OF_INDEXES || TitleHeap == nullptr) {
        return NoTitle;
    }
    auto* buffer = static_cast<char*>(TlsGetValue(TitleSlot));
    if (buffer == nullptr) {
        buffer = static_cast<char*>(HeapAlloc(TitleHeap, 0, TitleCapacity));
        if (buffer == nullptr) {
            return NoTitle;
        }
        TlsSetValue(TitleSlot, buffer);
    }
    return buffer;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        TitleSlot = TlsAlloc();
        TitleHeap = HeapCreate(0, 0, 0);
        break;
    case DLL_THREAD_DETACH:
        if (TitleSlot != TLS_OUT_OF_INDEXES && TitleHeap != nullptr) {
            HeapFree(TitleHeap, 0, TlsGetValue(TitleSlot));
        }
        break;
    case DLL_PROCESS_DETACH:
        if (TitleHeap != nullptr) {
            HeapDestroy(TitleHeap);
        }
        if (TitleSlot != TLS_OUT_OF_INDEXES) {
            TlsFree(TitleSlot);
        }
        break;
    default:
        break;
    }
    return TRUE;
}

extern "C" {

__declspec(dllexport) int32_t __stdcall getgamewinx(const GameInfo* info) {
    return GameRect(info).left;
}

__declspec(dllexport) int32_t __stdcall getgamewiny(const GameInfo* info) {
    return GameRect(info).top;
}

__declspec(dllexport) int32_t __stdcall getgamewinwidth(const GameInfo* info) {
    RECT rect = GameRect(info);
    return rect.right - rect.left;
}

__declspec(dllexport) int32_t __stdcall getgamewinheight(const GameInfo* info) {
    RECT rect = GameRect(info);
    return rect.bottom - rect.top;
}

__declspec(dllexport) int32_t __stdcall getgamehwnd(const GameInfo* info) {
    return static_cast<int32_t>(reinterpret_cast<uintptr_t>(GameWindow(info)));
}

__declspec(dllexport) int32_t __stdcall getgamepid(const GameInfo* info) {
    DWORD pid = 0;
    if (HWND window = GameWindow(info)) {
        GetWindowThreadProcessId(window, &pid);
    }
    return static_cast<int32_t>(pid);
}

__declspec(dllexport) const char* __stdcall getgametitle(const GameInfo* info) {
    char* title = TitleBuffer();
    if (title == NoTitle) {
        return title;
    }
    title[0] = '\0';
    if (HWND window = GameWindow(info)) {
        GetWindowTextA(window, title, TitleCapacity);
    }
    return title;
}

} // extern "C"

// The queries have exactly the signatures the plug-in calls them through.
static_assert(std::is_same_v<decltype(&getgamewinx), dovemarl::GetGameWinXFunction>);
static_assert(std::is_same_v<decltype(&getgamewiny), dovemarl::GetGameWinYFunction>);
static_assert(std::is_same_v<decltype(&getgamewinwidth), dovemarl::GetGameWinWidthFunction>);
static_assert(std::is_same_v<decltype(&getgamewinheight), dovemarl::GetGameWinHeightFunction>);
static_assert(std::is_same_v<decltype(&getgamehwnd), dovemarl::GetGameHwndFunction>);
static_assert(std::is_same_v<decltype(&getgamepid), dovemarl::GetGamePidFunction>);
static_assert(std::is_same_v<decltype(&getgametitle), dovemarl::GetGameTitleFunction>);
