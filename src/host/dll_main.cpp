// The library's entry-point function: start the runtime when the library is
// attached to the host process, stop it when the library is detached.
#include <windows.h>

#include "runtime/module.h"
#include "runtime/thread_exit.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        dovemarl::runtime::StartModule(instance);
        break;
    case DLL_PROCESS_DETACH:
        // At process exit (reserved non-null) the other threads are already
        // gone and the system reclaims everything; tearing down would only
        // touch windows and threads that no longer exist.
        if (reserved == nullptr) {
            dovemarl::runtime::StopModule();
        }
        break;
    case DLL_THREAD_DETACH:
        // Per-thread state is released by the watchers, not here; but a
        // watcher that retired tells here that it has left the module's code.
        dovemarl::runtime::ForgetEndingWatcher();
        break;
    default: // thread attach: per-thread state is made lazily
        break;
    }
    return TRUE; // a failure inside start-up never refuses the load
}
