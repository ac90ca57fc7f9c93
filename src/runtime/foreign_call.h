#pragma once
// Calling a function of a library the module does not control, whose calling
// convention it cannot vouch for.
#include <cstdint>

namespace dovemarl::runtime {

// Calls function(argument), pushing the argument as stdcall and cdecl both
// expect, and returns its 32-bit result. The stack pointer is put back
// afterwards whatever the callee popped, so a cdecl function (pops nothing)
// or a stdcall one declared with another number of arguments returns here
// normally and its result stands. A callee that takes more arguments reads
// and may overwrite a few spare words above its argument, never the caller's
// frame.
int32_t CallForeign(const void* function, int32_t argument);

} // namespace dovemarl::runtime
