// empty.dll: a library with the module's import list and nothing else, the
// reference for what loading and unloading the module costs.
#include <windows.h>

#include <commctrl.h>

extern "C" __declspec(dllexport) int __stdcall Touch(int value) {
    // One function of each imported library, so that all stay imported.
    if (value == 0x7FFFFFFF) {
        INITCOMMONCONTROLSEX init = {sizeof init, 0};
        InitCommonControlsEx(&init);
        DeleteObject(GetStockObject(NULL_BRUSH));
        return GetSystemMetrics(SM_CXSCREEN);
    }
    return value;
}
