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
// own buffer, valid until that thread asks again.
thread_local char TitleBuffer[512];

} // namespace

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
    TitleBuffer[0] = '\0';
    if (HWND window = GameWindow(info)) {
        GetWindowTextA(window, TitleBuffer, sizeof TitleBuffer);
    }
    return TitleBuffer;
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
