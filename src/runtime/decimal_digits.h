#pragma once
// Signed integers as decimal text: a leading '-' when negative, no plus sign,
// no leading zeros, no grouping.
#include <cstdint>

namespace dovemarl::runtime {

// Write the text of value at out, without a NUL, and return its length: at
// most 11 bytes for 32 bits, 20 for 64.
int WriteDecimal32(char* out, int32_t value);
int WriteDecimal64(char* out, int64_t value);

} // namespace dovemarl::runtime
