#include "runtime/fault_guard.h"

#include <windows.h>

#include <cstdint>

// The wrapper below saves the registers a callee must preserve and pushes an
// exception frame on the thread's handler chain (fs:[0]) for the length of
// the call; the system offers every exception raised on the thread to the
// frames on that chain, newest first. The frame has a third field after the
// two the system reads: the wrapper's exit for a cut call. The handler sends
// the thread there with the stack pointer at the frame, and the exit clears
// the direction flag (a cut string copy may have left it set, and code
// expects it clear), takes the frame off the chain and restores the saved
// registers from the stack.
//
// Stack, from the frame up: previous frame, handler, cut exit, then edi, esi,
// ebx, ebp, the return address, procedure and context. Below the frame, 12
// bytes keep the caller's stack alignment for the call.

namespace dovemarl::runtime {

namespace {

struct GuardFrame {
    void* next;
    void* handler;
    void* cutExit;
};

// The system clears a guard page's guard when it reports the violation. The
// page may be the guard of another thread's stack, which grows only while its
// guard is there, so the guard is put back.
void RearmGuard(const void* address) {
    MEMORY_BASIC_INFORMATION region = {};
    if (VirtualQuery(address, &region, sizeof region) == sizeof region &&
        region.State == MEM_COMMIT && (region.Protect & PAGE_GUARD) == 0) {
        DWORD previous = 0;
        VirtualProtect(const_cast<void*>(address), 1, region.Protect | PAGE_GUARD, &previous);
    }
}

} // namespace

} // namespace dovemarl::runtime

extern "C" {

int DovemarlRunGuarded(dovemarl::runtime::GuardedProcedure procedure, void* context);
EXCEPTION_DISPOSITION DovemarlGuardHandler(EXCEPTION_RECORD* record, void* frame, CONTEXT* context,
                                           void* dispatcher);
}

asm(R"(
    .text
    .globl _DovemarlRunGuarded
_DovemarlRunGuarded:
    pushl %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl $DovemarlGuardCut
    pushl $_DovemarlGuardHandler
    pushl %fs:0
    movl %esp, %fs:0
    subl $12, %esp
    pushl 48(%esp)
    call *48(%esp)
    addl $16, %esp
    movl $1, %eax
DovemarlGuardLeave:
    popl %fs:0
    addl $8, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
DovemarlGuardCut:
    cld
    xorl %eax, %eax
    jmp DovemarlGuardLeave
)");

// Called by the system for an exception raised while the frame is on the
// chain, that is inside the guarded call, and again with an unwinding flag
// when an outer handler unwinds past it; the latter passes on.
extern "C" EXCEPTION_DISPOSITION DovemarlGuardHandler(EXCEPTION_RECORD* record, void* frame,
                                                      CONTEXT* context, void*) {
    if ((record->ExceptionFlags & EXCEPTION_UNWIND) != 0) {
        return ExceptionContinueSearch;
    }
    DWORD code = record->ExceptionCode;
    if (code != STATUS_ACCESS_VIOLATION && code != STATUS_GUARD_PAGE_VIOLATION) {
        return ExceptionContinueSearch;
    }
    constexpr DWORD AddressParameter = 1; // the address the access was to
    if (code == STATUS_GUARD_PAGE_VIOLATION && record->NumberParameters > AddressParameter) {
        dovemarl::runtime::RearmGuard(
            reinterpret_cast<const void*>(record->ExceptionInformation[AddressParameter]));
    }
    auto* guard = static_cast<dovemarl::runtime::GuardFrame*>(frame);
    context->Esp = static_cast<DWORD>(reinterpret_cast<uintptr_t>(guard));
    context->Eip = static_cast<DWORD>(reinterpret_cast<uintptr_t>(guard->cutExit));
    return ExceptionContinueExecution;
}

namespace dovemarl::runtime {

bool RunGuarded(GuardedProcedure procedure, void* context) {
    return DovemarlRunGuarded(procedure, context) != 0;
}

} // namespace dovemarl::runtime
