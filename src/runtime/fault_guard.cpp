#include "runtime/fault_guard.h"

#include <windows.h>

#include <cstdint>

// The wrapper below saves the registers a callee must preserve and pushes an
// exception frame on the thread's handler chain (fs:[0]) for the length of
// the call; the system offers every exception raised on the thread to the
// frames on that chain, newest first. The frame has three fields after the
// two the system reads: the wrapper's exit for a cut call, and the first and
// last byte of the pages of foreign memory the call reads. The handler sends the
// thread to the exit with the stack pointer at the frame, and the exit clears
// the direction flag (a cut string copy may have left it set, and code
// expects it clear), takes the frame off the chain and restores the saved
// registers from the stack.
//
// Stack, from the frame up: previous frame, handler, cut exit, first and last
// foreign byte, then edi, esi, ebx, ebp, the return address, procedure,
// context, first and last foreign byte. Below the frame, 4 bytes keep the
// caller's stack alignment for the call.

namespace dovemarl::runtime {

namespace {

struct GuardFrame {
    void* next;
    void* handler;
    void* cutExit;
    uintptr_t foreignFirst;
    uintptr_t foreignLast;
};

// What the exception record says about a memory access that failed: the
// second parameter is the address, the first whether it was a read.
constexpr DWORD AccessKindParameter = 0;
constexpr DWORD AddressParameter = 1;
constexpr ULONG_PTR ReadAccess = 0; // EXCEPTION_READ_FAULT
constexpr uintptr_t PageBytes = 4096;

// An access violation, a guard page, or a page the system could not bring in
// (STATUS_IN_PAGE_ERROR: a view of a file that went away, a network drive that
// dropped) while reading the pages of the foreign memory. A write, an
// execution, or a read of any other page is the module's own fault and is not
// the guard's to hide.
bool IsForeignReadFault(const EXCEPTION_RECORD* record, const GuardFrame* guard) {
    DWORD code = record->ExceptionCode;
    if (code != STATUS_ACCESS_VIOLATION && code != STATUS_GUARD_PAGE_VIOLATION &&
        code != STATUS_IN_PAGE_ERROR) {
        return false;
    }
    if (record->NumberParameters <= AddressParameter ||
        record->ExceptionInformation[AccessKindParameter] != ReadAccess) {
        return false;
    }
    uintptr_t address = record->ExceptionInformation[AddressParameter];
    return address >= guard->foreignFirst && address <= guard->foreignLast;
}

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

int DovemarlRunGuarded(dovemarl::runtime::GuardedProcedure procedure, void* context,
                       uintptr_t foreignFirst, uintptr_t foreignLast);
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
    pushl 32(%esp)
    pushl 32(%esp)
    pushl $DovemarlGuardCut
    pushl $_DovemarlGuardHandler
    pushl %fs:0
    movl %esp, %fs:0
    subl $4, %esp
    pushl 48(%esp)
    call *48(%esp)
    addl $8, %esp
    movl $1, %eax
DovemarlGuardLeave:
    popl %fs:0
    addl $16, %esp
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
    auto* guard = static_cast<dovemarl::runtime::GuardFrame*>(frame);
    if (!dovemarl::runtime::IsForeignReadFault(record, guard)) {
        return ExceptionContinueSearch;
    }
    if (record->ExceptionCode == STATUS_GUARD_PAGE_VIOLATION) {
        dovemarl::runtime::RearmGuard(reinterpret_cast<const void*>(
            record->ExceptionInformation[dovemarl::runtime::AddressParameter]));
    }
    context->Esp = static_cast<DWORD>(reinterpret_cast<uintptr_t>(guard));
    context->Eip = static_cast<DWORD>(reinterpret_cast<uintptr_t>(guard->cutExit));
    return ExceptionContinueExecution;
}

namespace dovemarl::runtime {

bool RunGuarded(GuardedProcedure procedure, void* context, const void* foreign,
                size_t foreignBytes) {
    uintptr_t first = UINTPTR_MAX; // an empty range: no fault is foreign
    uintptr_t last = 0;
    if (foreignBytes > 0) {
        first = reinterpret_cast<uintptr_t>(foreign);
        uintptr_t room = UINTPTR_MAX - first; // a range cut at the end of the address space
        last = first + (foreignBytes - 1 < room ? foreignBytes - 1 : room);
        // Whole pages: a string routine may load an aligned word that starts
        // before the text (or ends after it) in the same page, and a fault
        // names the address of the load.
        first &= ~(PageBytes - 1);
        last |= PageBytes - 1;
    }
    return DovemarlRunGuarded(procedure, context, first, last) != 0;
}

} // namespace dovemarl::runtime
