#pragma once
// Calling a function of a library the module does not control, whose calling
// convention it cannot vouch for.
#include <cstdint>

namespace dovemarl::runtime {

// Calls function(argument), pushing the argument as stdcall and cdecl both
// expect, and returns its 32-bit result. The stack pointer is put back
// afterwards whatever the callee popped, so a cdecl function (pops nothing)
// or a stdcall one declared with another number of arguments returns here
// normally and its result stands. A callee that believes it takes up to six
// arguments reads, and may overwrite, spare words above its argument, not the
// caller's frame; one that takes more reaches the caller's frame. A callee
// that does not preserve ebx is beyond any thunk: ebx holds the stack pointer
// to put back. A float or double result is dropped from the x87 stack (the
// value used is eax), and the direction flag is clear before and after.
int32_t CallForeign(const void* function, int32_t argument);

} // namespace dovemarl::runtime
