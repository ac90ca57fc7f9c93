#pragma once
// Calls a plug-in export the way the contract says it is called (stdcall,
// one 32-bit argument) and checks how it behaved: whether it removed its
// argument from the stack, and whether an exception escaped from it. A crash
// inside the export ends the call, not the host.
#include <cstdint>

namespace standin {

struct CallOutcome {
    int32_t result = 0;
    // The stack pointer after the call minus where a stdcall callee leaves
    // it: 0 for stdcall, -4 for a callee that left its argument (cdecl).
    int32_t stackError = 0;
    int32_t crashed = 0; // 1 when an exception escaped from the call
    uint32_t exceptionCode = 0;
    uint32_t exceptionAddress = 0;
};

CallOutcome GuardedCall(const void* function, uint32_t argument);

} // namespace standin
