#include "ui/window_system.h"

#include <commctrl.h>

namespace dovemarl::ui {

namespace {

constexpr char CommonControlsName[] = "comctl32.dll";
constexpr DWORD CommonControlClasses = ICC_TAB_CLASSES | ICC_HOTKEY_CLASS | ICC_DATE_CLASSES |
                                       ICC_USEREX_CLASSES | ICC_INTERNET_CLASSES; // 0xB48

using InitCommonControlsProc = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);

INIT_ONCE SetUpOnce = INIT_ONCE_STATIC_INIT;
HFONT GuiFont = nullptr;

#ifdef DOVEMARL_TEST_BUILD
volatile LONG SetUpRuns = 0;
volatile LONG CommonControlsInits = 0;
#endif

// Nothing the module shows needs the common controls (boxes and Static labels
// are user32's), but a host that has them is given the classes it may expect.
// comctl32 is never loaded for it: its attach, under the loader lock, hangs a
// process whose other thread is setting up the display for the first time.
void InitLoadedCommonControls() {
    HMODULE commonControls = GetModuleHandleA(CommonControlsName);
    if (commonControls == nullptr) {
        return;
    }
    auto init = reinterpret_cast<InitCommonControlsProc>(
        reinterpret_cast<void*>(GetProcAddress(commonControls, "InitCommonControlsEx")));
    if (init != nullptr) {
        INITCOMMONCONTROLSEX classes = {sizeof(INITCOMMONCONTROLSEX), CommonControlClasses};
        init(&classes);
#ifdef DOVEMARL_TEST_BUILD
        InterlockedIncrement(&CommonControlsInits);
#endif
    }
}

BOOL CALLBACK SetUp(INIT_ONCE*, void*, void**) {
#ifdef DOVEMARL_TEST_BUILD
    InterlockedIncrement(&SetUpRuns);
#endif
    GuiFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    InitLoadedCommonControls();
    return TRUE;
}

} // namespace

void StartWindowSystem() {
    InitOnceInitialize(&SetUpOnce);
    GuiFont = nullptr;
#ifdef DOVEMARL_TEST_BUILD
    SetUpRuns = 0;
    CommonControlsInits = 0;
#endif
}

void EnsureWindowSystem() {
    InitOnceExecuteOnce(&SetUpOnce, SetUp, nullptr, nullptr);
}

HFONT LabelFont() {
    return GuiFont;
}

#ifdef DOVEMARL_TEST_BUILD
WindowSystemSetUpCounts SetUpCounts() {
    return {SetUpRuns, CommonControlsInits};
}
#endif

} // namespace dovemarl::ui
