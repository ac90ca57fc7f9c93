#include "runtime/module_image.h"

#include <cstdint>

#include "runtime/module.h"

namespace dovemarl::runtime {

// GetThreadContext waits until the suspension has taken effect, so the
// address read is where the thread really stands.
bool ThreadExecutingInModule(HANDLE thread) {
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
        return false;
    }
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    bool read = GetThreadContext(thread, &context) != FALSE;
    ResumeThread(thread);
    auto base = reinterpret_cast<uintptr_t>(ModuleInstance);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return !read || (context.Eip >= base && context.Eip - base < nt->OptionalHeader.SizeOfImage);
}

} // namespace dovemarl::runtime
