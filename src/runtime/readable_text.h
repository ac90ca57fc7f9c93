#pragma once
// Measuring a text that came from outside the module without reading memory
// that is not there.
#include <cstddef>

namespace dovemarl::runtime {

// Sets *length to the length of the NUL-terminated text at text and returns
// true when every byte up to and including its NUL lies in committed memory
// that may be read. False for null, for an address that is reserved, free or
// not readable, and for a text that runs into such memory before its NUL.
bool MeasureReadableText(const char* text, size_t* length);

} // namespace dovemarl::runtime
