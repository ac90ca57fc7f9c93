#include "ui/window_class.h"

#include <cstring>

#include "runtime/module.h"

namespace dovemarl::ui {

namespace {

struct ClassSearch {
    const char* name;
    HWND found;
};

// Finds a window of this process and module with the class name.
BOOL CALLBACK FindWindowOfClass(HWND window, LPARAM argument) {
    auto* search = reinterpret_cast<ClassSearch*>(argument);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != GetCurrentProcessId()) {
        return TRUE;
    }
    char name[ClassNameCapacity] = "";
    GetClassNameA(window, name, ClassNameCapacity);
    auto instance = reinterpret_cast<HINSTANCE>(GetClassLongPtrA(window, GCLP_HMODULE));
    if (std::strcmp(name, search->name) == 0 && instance == runtime::ModuleInstance) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Message-only windows are not among the top-level windows: they are found
// under HWND_MESSAGE.
void FindMessageOnlyWindowOfClass(ClassSearch* search) {
    HWND window = nullptr;
    while (search->found == nullptr &&
           (window = FindWindowExA(HWND_MESSAGE, window, search->name, nullptr)) != nullptr) {
        FindWindowOfClass(window, reinterpret_cast<LPARAM>(search));
    }
}

// Points the class of a still existing window at procedure.
void RedirectClass(const char* name, WNDPROC procedure) {
    ClassSearch search = {name, nullptr};
    EnumWindows(FindWindowOfClass, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) {
        FindMessageOnlyWindowOfClass(&search);
    }
    if (search.found != nullptr) {
        SetClassLongPtrA(search.found, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(procedure));
    }
}

} // namespace

void RegisterOwnClass(const WNDCLASSA& cls) {
    if (RegisterClassA(&cls) != 0 || GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return;
    }
    if (UnregisterClassA(cls.lpszClassName, cls.hInstance) && RegisterClassA(&cls) != 0) {
        return;
    }
    RedirectClass(cls.lpszClassName, cls.lpfnWndProc);
}

void UnregisterOwnClass(const char* name) {
    if (!UnregisterClassA(name, runtime::ModuleInstance)) {
        RedirectClass(name, DefWindowProcA);
    }
}

} // namespace dovemarl::ui
