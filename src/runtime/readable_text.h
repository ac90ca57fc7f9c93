#pragma once
// Reading a text that came from outside the module without letting memory
// that is not there end the host's process.
#include <cstddef>

namespace dovemarl::runtime {

// Sets *length to the length of the NUL-terminated text at text and returns
// true when every byte up to its NUL could be read. False for null, for an
// address that is reserved, free, not readable or a guard page, and for a
// text that runs into such memory before its NUL.
bool MeasureReadableText(const char* text, size_t* length);
// Copies length bytes of text to out (which must have room); false when the
// text could not be read whole, for instance because it was freed since it
// was measured. What out holds then is unspecified.
bool CopyReadableText(char* out, const char* text, size_t length);

enum class TextRead {
    Unreadable, // null, or memory that could not be read before the NUL or room ran out
    Read,       // the text and its NUL are at out
    Longer,     // room ran out before the NUL; out holds room bytes of it
};
// Copies the text at text with its NUL to out in one pass, writing at most
// room bytes; sets *length to the text's length when it returns Read.
TextRead ReadTextWithin(const char* text, char* out, size_t room, size_t* length);

} // namespace dovemarl::runtime
