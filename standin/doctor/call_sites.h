#pragma once
// Call instructions of 32-bit x86 code, read backwards from the return
// address they leave: a value on a stack that follows a call is a return
// address, and the call tells where it went.
#include <windows.h>

namespace standin {

// The longest call instruction that ends at a return address.
inline constexpr int LongestCall = 7;

// Whether the LongestCall bytes before next end with a call instruction.
bool EndsWithCall(const unsigned char* next);

// Whether the call that returns to returnAddress (read from memory) went to
// target, with the registers as the callee's first instruction finds them.
bool CalledFrom(const void* returnAddress, const void* target, const CONTEXT& context);

} // namespace standin
