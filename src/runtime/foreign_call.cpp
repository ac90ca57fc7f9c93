#include "runtime/foreign_call.h"

// The thunk keeps the stack pointer of the moment before the call in ebx,
// which every 32-bit calling convention leaves to the callee to preserve, and
// sets it back after the call: whatever the callee popped (nothing, its one
// argument, or more) is undone. Between the saved ebx and the argument lie
// SpareBytes (five words), so that a callee that believes it has up to six
// arguments and uses their slots as scratch overwrites only those. The spare
// words also keep the caller's stack alignment at the call: at entry the
// stack is 4 bytes below it, and 4 (ebx) + 20 (spare) + 4 (argument) = 28
// bytes more bring it back to a multiple of 16 below.
//
// Stack at the call, from the argument up: argument, five spare words, the
// caller's ebx, the return address, function and argument.
//
// The callee gets the flags every convention promises, the direction flag
// clear, whatever the thread had. After it returns, the direction flag is
// cleared again and the x87 register stack emptied: a function that returns
// a float or double leaves its result in st(0), where nobody pops it, and
// eight such calls would fill the stack, so that the host's next x87
// instruction faults or computes with garbage. Each register still in use is
// popped, so the stack top comes back where it was; the control word (the
// host's rounding and precision) is left as it is.

extern "C" int32_t DovemarlCallForeign(const void* function, int32_t argument);

asm(R"(
    .set SpareBytes, 20
    .set X87Empty, 0x4100      # fxam's C3 and C0: the register is empty
    .set X87ClassBits, 0x4500  # C3, C2 and C0
    .set X87Registers, 8
    .text
    .globl _DovemarlCallForeign
_DovemarlCallForeign:
    pushl %ebx
    movl %esp, %ebx
    subl $SpareBytes, %esp
    pushl 12(%ebx)
    cld
    call *8(%ebx)
    cld
    movl %eax, %edx
    movl $X87Registers, %ecx
1:  fxam
    fnstsw %ax
    andw $X87ClassBits, %ax
    cmpw $X87Empty, %ax
    je 2f
    fstp %st(0)
    loop 1b
2:  movl %edx, %eax
    movl %ebx, %esp
    popl %ebx
    ret
)");

namespace dovemarl::runtime {

int32_t CallForeign(const void* function, int32_t argument) {
    return DovemarlCallForeign(function, argument);
}

} // namespace dovemarl::runtime
