// Plug-ins that bring comctl32 into the host the two ways that hang a cold
// one, to show that the cold-start tests catch it:
//   COMMON_CONTROLS_AT_LOAD       imports comctl32 and initialises it at attach,
//                                 under the loader lock
//   COMMON_CONTROLS_AT_FIRST_RUN  loads comctl32 itself on its first pluginrun
// Each export returns 0 and shows nothing.
#include <windows.h>

#include <commctrl.h>

#include <cstdint>

#include "dovemarl/plugin_contract.h"

namespace {

constexpr DWORD CommonControlClasses = ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES |
                                       ICC_USEREX_CLASSES | ICC_INTERNET_CLASSES;

} // namespace

#if defined(COMMON_CONTROLS_AT_LOAD)

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        INITCOMMONCONTROLSEX classes = {sizeof classes, CommonControlClasses};
        InitCommonControlsEx(&classes);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) int32_t __stdcall pluginrun(dovemarl::GameInfo*) {
    return 0;
}

#elif defined(COMMON_CONTROLS_AT_FIRST_RUN)

using InitCommonControlsProc = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);

extern "C" __declspec(dllexport) int32_t __stdcall pluginrun(dovemarl::GameInfo*) {
    HMODULE commonControls = LoadLibraryA("comctl32.dll");
    auto init = reinterpret_cast<InitCommonControlsProc>(
        reinterpret_cast<void*>(GetProcAddress(commonControls, "InitCommonControlsEx")));
    if (init != nullptr) {
        INITCOMMONCONTROLSEX classes = {sizeof classes, CommonControlClasses};
        init(&classes);
    }
    return 0;
}

#endif

extern "C" __declspec(dllexport) int32_t __stdcall pluginload(int32_t) {
    return 0;
}

extern "C" __declspec(dllexport) int32_t __stdcall pluginunload(int32_t) {
    return 0;
}
