#pragma once
// Building texts in the calling thread's workspace. A text under construction
// is named by the mark where it starts, never by an address: the buffer may
// move whenever it grows. Take TextBase() + mark only after the last piece.
#include <cstddef>
#include <cstdint>

namespace dovemarl::runtime {

struct TextWorkspace;

constexpr int32_t AtPosition = -1; // "at" value meaning the current position

int32_t TextMark();
void TextRelease(int32_t mark);
// Makes room for length bytes at offset at and sets the position to at + length;
// returns the buffer address at offset at, or null when the buffer cannot grow
// (nothing changes then).
char* TextReserve(int32_t length, int32_t at = AtPosition);
void TextGiveBack(int32_t count);

// Appends a text without its NUL and writes a NUL after it; null appends nothing.
void AppendText(const char* text);
// Places a text that came from outside the module at offset at; null reads as
// the empty text.
void AppendForeignText(const char* text, int32_t at = AtPosition);
// Writes value in decimal at offset at: a leading '-' when negative, nothing
// else; followed by a NUL that is not counted.
void AppendDecimal(int64_t value, int32_t at = AtPosition);
// Takes the NUL after the built text into the used part, so that it survives
// further building by a callee.
void TextSeal();
// The start of the calling thread's buffer, for reading what was built (write
// only through what TextReserve returns).
const char* TextBase();

// The same building on a workspace that the caller looked up once for a whole
// text (CurrentTextWorkspace), so that a text of many pieces reads the
// thread's slot once instead of once or twice per piece. Each acts as the
// operation above of the same name does on the calling thread's workspace; a
// null workspace builds nothing.
char* TextReserveIn(TextWorkspace* workspace, int32_t length, int32_t at = AtPosition);
// Appends the length bytes at text (null when length is 0), then a NUL: for
// literals and the module's own texts, whose length the caller knows.
void AppendTextIn(TextWorkspace* workspace, const char* text, size_t length);
void AppendForeignTextIn(TextWorkspace* workspace, const char* text, int32_t at = AtPosition);
void AppendDecimalIn(TextWorkspace* workspace, int64_t value, int32_t at = AtPosition);

} // namespace dovemarl::runtime
