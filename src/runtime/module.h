#pragma once
// Module start-up and shutdown: the runtime services' module-wide state,
// created in a fixed order when the module attaches and taken down in a fixed
// order when it detaches.
#include <windows.h>

namespace dovemarl::runtime {

// The module instance, remembered at attach; used to register window classes.
extern HINSTANCE ModuleInstance;

// Runs every service's start step. Nothing here reports failure.
void StartModule(HINSTANCE instance);
// Runs every service's end step and destroys the heaps.
void StopModule();

} // namespace dovemarl::runtime
