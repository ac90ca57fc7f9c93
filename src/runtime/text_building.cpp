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

// Grows the buffer so that needed bytes fit below the capacity's slack;
// false when it cannot (nothing changes then).
bool GrowWorkspace(TextWorkspace* workspace, int64_t needed) {
    int64_t capacity = needed + GrowthMargin;
    if (capacity + SpareBytes > INT32_MAX) {
        return false;
    }
    void* grown = HeapReAlloc(PublishedTextHeap(), 0, workspace->buffer,
                              static_cast<SIZE_T>(capacity + SpareBytes));
    if (grown == nullptr) {
        return false;
    }
    workspace->buffer = static_cast<char*>(grown);
    workspace->capacity = static_cast<int32_t>(capacity);
    return true;
}

// Copies length bytes, one to two words' worth, as the first and the last word.
template <typename Word> void CopyOverlapping(char* out, const char* text, size_t length) {
    Word first;
    Word last;
    std::memcpy(&first, text, sizeof first);
    std::memcpy(&last, text + length - sizeof last, sizeof last);
    std::memcpy(out, &first, sizeof first);
    std::memcpy(out + length - sizeof last, &last, sizeof last);
}

// Most pieces are a few bytes long, for which a call to memcpy costs more than
// the copy: up to 16 bytes move as two words that may overlap.
void CopyPiece(char* out, const char* text, size_t length) {
    constexpr size_t SmallPiece = 2 * sizeof(uint64_t);
    if (length > SmallPiece) {
        std::memcpy(out, text, length);
    } else if (length >= sizeof(uint64_t)) {
        CopyOverlapping<uint64_t>(out, text, length);
    } else if (length >= sizeof(uint32_t)) {
        CopyOverlapping<uint32_t>(out, text, length);
    } else if (length >= sizeof(uint16_t)) {
        CopyOverlapping<uint16_t>(out, text, length);
    } else if (length == 1) {
        out[0] = text[0];
    }
}

// Room for one piece of text at offset at. When there is none, the text built
// so far is ended where it stands, and the piece is left out.
char* ReservePiece(TextWorkspace* workspace, size_t length, int32_t at) {
    char* place =
        length <= INT32_MAX ? TextReserveIn(workspace, static_cast<int32_t>(length), at) : nullptr;
    if (place == nullptr && workspace != nullptr) {
        workspace->buffer[workspace->position] = '\0';
    }
    return place;
}

// Places a foreign text at the position in one pass when it fits in the room
// the buffer has there, as most do; that needs no reservation, which could
// grow the buffer. False when the text is longer than the room.
bool ReadIntoRoom(TextWorkspace* workspace, const char* text) {
    int32_t at = workspace->position;
    int32_t room = workspace->capacity - SlackBytes - at;
    if (room <= 0) {
        return false;
    }
    size_t length = 0;
    switch (ReadTextWithin(text, workspace->buffer + at, static_cast<size_t>(room), &length)) {
    case TextRead::Read:
        workspace->position = at + static_cast<int32_t>(length);
        return true;
    case TextRead::Unreadable:
        workspace->buffer[at] = '\0'; // reads as the empty text, as null does
        return true;
    case TextRead::Longer:
        break;
    }
    return false;
}

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
    return TextReserveIn(CurrentTextWorkspace(), length, at);
}

void TextGiveBack(int32_t count) {
    if (TextWorkspace* workspace = CurrentTextWorkspace()) {
        if (count > 0 && count <= workspace->position) {
            workspace->position -= count;
        }
    }
}

void AppendText(const char* text) {
    AppendTextIn(CurrentTextWorkspace(), text, text != nullptr ? std::strlen(text) : 0);
}

void AppendForeignText(const char* text, int32_t at) {
    AppendForeignTextIn(CurrentTextWorkspace(), text, at);
}

void AppendDecimal(int64_t value, int32_t at) {
    AppendDecimalIn(CurrentTextWorkspace(), value, at);
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

char* TextReserveIn(TextWorkspace* workspace, int32_t length, int32_t at) {
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
    if (needed >= workspace->capacity - SlackBytes && !GrowWorkspace(workspace, needed)) {
        return nullptr;
    }
    workspace->position = at + length;
    return workspace->buffer + at;
}

void AppendTextIn(TextWorkspace* workspace, const char* text, size_t length) {
    if (char* place = ReservePiece(workspace, length, AtPosition)) {
        CopyPiece(place, text, length);
        place[length] = '\0';
    }
}

void AppendForeignTextIn(TextWorkspace* workspace, const char* text, int32_t at) {
    if (workspace != nullptr && (at == AtPosition || at == workspace->position) &&
        ReadIntoRoom(workspace, text)) {
        return;
    }
    // Measured first, then copied into the room reserved for it. A text that
    // cannot be read whole reads as the empty text, as null does; so does one
    // that stops being readable while it is copied.
    size_t length = 0;
    if (!MeasureReadableText(text, &length)) {
        length = 0;
    }
    char* place = ReservePiece(workspace, length, at);
    if (place == nullptr) {
        return;
    }
    if (!CopyReadableText(place, text, length)) {
        workspace->position -= static_cast<int32_t>(length);
        length = 0;
    }
    place[length] = '\0';
}

void AppendDecimalIn(TextWorkspace* workspace, int64_t value, int32_t at) {
    bool fits32 = value >= INT32_MIN && value <= INT32_MAX;
    int32_t room = fits32 ? Decimal32Room : Decimal64Room;
    char* place = ReservePiece(workspace, static_cast<size_t>(room), at);
    if (place == nullptr) {
        return;
    }
    int written =
        fits32 ? WriteDecimal32(place, static_cast<int32_t>(value)) : WriteDecimal64(place, value);
    workspace->position -= room - written; // gives back what the digits did not use
    place[written] = '\0';
}

} // namespace dovemarl::runtime
