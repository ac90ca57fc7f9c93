#pragma once
// Registering and unregistering the module's window classes, also when a
// class of the same name was left behind by an earlier load of the module.
#include <windows.h>

namespace dovemarl::ui {

// Room for the class names the module makes ("WindowClass_" and a 32-bit
// number) and compares, with the NUL.
constexpr int ClassNameCapacity = 64;

// Registers cls. A class of that name may be left over from an earlier load
// of the module whose window outlived it on another thread (a class cannot be
// unregistered while a window of it exists): that class is unregistered and
// registered anew, or, while its window still exists, pointed at cls's
// procedure, so that new windows always run this module's code.
void RegisterOwnClass(const WNDCLASSA& cls);

// Unregisters a class of the module. While a window of it still exists (on a
// thread that has not destroyed it yet) the class stays registered, and its
// procedure becomes DefWindowProcA, so that nothing of it calls into the module
// once the module is gone.
void UnregisterOwnClass(const char* name);

} // namespace dovemarl::ui
