#include "runtime/text_building.h"

#include <windows.h>

#include <cstring>

#include "runtime/decimal_digits.h"
#include "runtime/heaps.h"
#include "runtime/readable_text.h"
#include "runtime/text_workspace.h"

namespace dovemarl::runtime {

namespace {

constexpr int32_t GrowthMargin = 16384; // added beyond what a reservation needs
constexpr int32_t SpareBytes = 5;       // allocated beyond the capacity
constexpr int32_t SlackBytes = 4;       // a reservation must stay this far below capacity
constexpr int32_t Decimal32Room = 32;
constexpr int32_t Decimal64Room = 64;

// Stands in for the buffer when no workspace could be made: the marks are all
// 0 then, so callers taking TextBase() + mark read an empty text. Read-only,
// so that nothing can write through it into text shared by every thread.
constexpr char EmptyText[1] = "";

} // namespace

int32_t TextMark() {
    DWORD lastError = GetLastError(); // reading the thread slot resets it
    TextWorkspace* workspace = CurrentTextWorkspace();
    SetLastError(lastError);
    return workspace != nullptr ? workspace->position : 0;
}

void TextRelease(int32_t mark) {
    DWORD lastError = GetLastError();
    if (TextWorkspace* workspace = CurrentTextWorkspace()) {
        if (mark >= 0 && mark <= workspace->position) {
            workspace->position = mark;
        }
    }
    SetLastError(lastError);
}

char* TextReserve(int32_t length, int32_t at) {
    TextWorkspace* workspace = CurrentTextWorkspace();
    if (workspace == nullptr || length < 0) {
        return nullptr;
    }
    if (at == AtPosition) {
        at = workspace->position;
    }
    if (at < 0 || at > workspace->position) {
        return nullptr; // only the position or an earlier mark is a valid place
    }
    int64_t needed = static_cast<int64_t>(workspace->position) + length;
    if (needed >= workspace->capacity - SlackBytes) {
        int64_t capacity = needed + GrowthMargin;
        if (capacity + SpareBytes > INT32_MAX) {
            return nullptr;
        }
        void* grown = HeapReAlloc(PublishedTextHeap(), 0, workspace->buffer,
                                  static_cast<SIZE_T>(capacity + SpareBytes));
        if (grown == nullptr) {
            return nullptr;
        }
        workspace->buffer = static_cast<char*>(grown);
        workspace->capacity = static_cast<int32_t>(capacity);
    }
    workspace->position = at + length;
    return workspace->buffer + at;
}

void TextGiveBack(int32_t count) {
    if (TextWorkspace* workspace = CurrentTextWorkspace()) {
        if (count > 0 && count <= workspace->position) {
            workspace->position -= count;
        }
    }
}

namespace {

// Room for one piece of text at offset at. When there is none, the text built
// so far is ended where it stands, and the piece is left out.
char* ReservePiece(size_t length, int32_t at) {
    char* place = length <= INT32_MAX ? TextReserve(static_cast<int32_t>(length), at) : nullptr;
    if (place == nullptr) {
        if (TextWorkspace* workspace = CurrentTextWorkspace()) {
            workspace->buffer[workspace->position] = '\0';
        }
    }
    return place;
}

void AppendMeasured(const char* text, size_t length, int32_t at) {
    if (char* place = ReservePiece(length, at)) {
        std::memcpy(place, length != 0 ? text : "", length);
        place[length] = '\0';
    }
}

} // namespace

void AppendText(const char* text) {
    AppendMeasured(text, text != nullptr ? std::strlen(text) : 0, AtPosition);
}

void AppendForeignText(const char* text, int32_t at) {
    // Measured first, then copied into the room reserved for it. A text that
    // cannot be read whole reads as the empty text, as null does; so does one
    // that stops being readable while it is copied.
    size_t length = 0;
    if (!MeasureReadableText(text, &length)) {
        length = 0;
    }
    char* place = ReservePiece(length, at);
    if (place == nullptr) {
        return;
    }
    if (!CopyReadableText(place, text, length)) {
        TextGiveBack(static_cast<int32_t>(length));
        length = 0;
    }
    place[length] = '\0';
}

void AppendDecimal(int64_t value, int32_t at) {
    bool fits32 = value >= INT32_MIN && value <= INT32_MAX;
    int32_t room = fits32 ? Decimal32Room : Decimal64Room;
    char* place = ReservePiece(static_cast<size_t>(room), at);
    if (place == nullptr) {
        return;
    }
    int written =
        fits32 ? WriteDecimal32(place, static_cast<int32_t>(value)) : WriteDecimal64(place, value);
    TextGiveBack(room - written);
    place[written] = '\0';
}

void TextSeal() {
    // The NUL is written again: when nothing was built since the last mark,
    // the byte there is left over from an earlier, released text.
    if (char* sealed = TextReserve(1)) {
        sealed[0] = '\0';
        sealed[1] = '\0'; // the new position; the buffer keeps room beyond it
    }
}

const char* TextBase() {
    TextWorkspace* workspace = CurrentTextWorkspace();
    return workspace != nullptr ? workspace->buffer : EmptyText;
}

} // namespace dovemarl::runtime
