#include "runtime/foreign_call.h"

// The thunk keeps the stack pointer of the moment before the call in ebx,
// which every 32-bit calling convention leaves to the callee to preserve, and
// sets it back after the call: whatever the callee popped (nothing, its one
// argument, or more) is undone. Between the saved ebx and the argument lie
// SpareWords words, so that a callee that believes it has up to six
// arguments and uses their slots as scratch overwrites only those. The spare
// words also keep the caller's stack alignment at the call: at entry the
// stack is 4 bytes below it, and 4 (ebx) + 20 (spare) + 4 (argument) = 28
// bytes more bring it back to a multiple of 16 below.
//
// Stack at the call, from the argument up: argument, five spare words, the
// caller's ebx, the return address, function and argument.

extern "C" int32_t DovemarlCallForeign(const void* function, int32_t argument);

asm(R"(
    .text
    .globl _DovemarlCallForeign
_DovemarlCallForeign:
    pushl %ebx
    movl %esp, %ebx
    subl $20, %esp
    pushl 12(%ebx)
    call *8(%ebx)
    movl %ebx, %esp
    popl %ebx
    ret
)");

namespace dovemarl::runtime {

int32_t CallForeign(const void* function, int32_t argument) {
    return DovemarlCallForeign(function, argument);
}

} // namespace dovemarl::runtime
