#pragma once
// Text variables and text fields: a slot that is null (the empty text) or owns
// one TextHeap block of length + 5 bytes holding the text and its NUL.
#include <cstdint>

namespace dovemarl::runtime {

// Copies text into the slot's block (made or resized to length + 5) and returns
// length + 1; null frees the block and returns 1. When TextHeap cannot supply
// the block the slot is left as it was and the result is 0.
int32_t AssignText(char** slot, const char* text);
// Moves what was built since mark into the slot as AssignText does, then
// releases the workspace to mark. An empty text still leaves a block.
int32_t AssignBuiltText(char** slot, int32_t mark);
void FreeText(char* block);

// A record type's text fields: byte offsets, ended by TextLayoutEnd.
constexpr int32_t TextLayoutEnd = -1;
// Frees the block of every text field the layout lists. The stale addresses
// stay in the fields: use it only on records about to go out of scope.
void ReleaseTextFields(void* record, const int32_t* layout);

} // namespace dovemarl::runtime
