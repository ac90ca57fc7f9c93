#include "runtime/text_variable.h"

#include <windows.h>

#include <cstring>

#include "runtime/heaps.h"
#include "runtime/text_building.h"
#include "runtime/text_workspace.h"

namespace dovemarl::runtime {

namespace {

constexpr size_t SpareBytes = 5; // every block is length + 5 bytes

bool Overlaps(HANDLE heap, const char* text, const char* block) {
    return block != nullptr && text >= block &&
           text < block + HeapSize(heap, 0, const_cast<char*>(block));
}

// Stores length bytes of text and a NUL in the slot's block.
int32_t StoreText(char** slot, const char* text, size_t length) {
    HANDLE heap = ReadyTextHeap();
    if (heap == nullptr || length > INT32_MAX - SpareBytes) {
        return 0;
    }
    // A text read from the slot's own block gets a new block, and the old one
    // is freed only after the copy.
    bool fresh = *slot == nullptr || Overlaps(heap, text, *slot);
    void* block = fresh ? HeapAlloc(heap, 0, length + SpareBytes)
                        : HeapReAlloc(heap, 0, *slot, length + SpareBytes);
    if (block == nullptr) {
        return 0;
    }
    std::memcpy(block, text, length);
    static_cast<char*>(block)[length] = '\0';
    if (fresh) {
        FreeText(*slot);
    }
    *slot = static_cast<char*>(block);
    return static_cast<int32_t>(length + 1);
}

} // namespace

int32_t AssignText(char** slot, const char* text) {
    if (text == nullptr) {
        FreeText(*slot);
        *slot = nullptr;
        return 1;
    }
    return StoreText(slot, text, std::strlen(text));
}

int32_t AssignBuiltText(char** slot, int32_t mark) {
    TextWorkspace* workspace = CurrentTextWorkspace();
    int32_t result = 0;
    if (workspace != nullptr && mark >= 0 && mark <= workspace->position) {
        result = StoreText(slot, workspace->buffer + mark,
                           static_cast<size_t>(workspace->position - mark));
    }
    TextRelease(mark);
    return result;
}

void FreeText(char* block) {
    HANDLE heap = PublishedTextHeap();
    if (block != nullptr && heap != nullptr) {
        HeapFree(heap, 0, block);
    }
}

void ReleaseTextFields(void* record, const int32_t* layout) {
    auto* bytes = static_cast<char*>(record);
    for (; *layout != TextLayoutEnd; ++layout) {
        if (*layout >= 0) {
            FreeText(*reinterpret_cast<char**>(bytes + *layout));
        }
    }
}

} // namespace dovemarl::runtime
