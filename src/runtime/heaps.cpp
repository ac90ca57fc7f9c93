#include "runtime/heaps.h"

namespace dovemarl::runtime {

HANDLE MainHeap = nullptr;
HANDLE TextHeap = nullptr;

namespace {
constexpr SIZE_T InitialHeapCommit = 4096;
constexpr SIZE_T NoMaximumSize = 0;
} // namespace

HANDLE MakePrivateHeap() {
    return HeapCreate(0, InitialHeapCommit, NoMaximumSize);
}

void DestroyPrivateHeap(HANDLE& heap) {
    if (heap != nullptr) {
        HeapDestroy(heap);
        heap = nullptr;
    }
}

void* NewRecord(std::size_t size) {
    if (MainHeap == nullptr) {
        return nullptr;
    }
    return HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, size);
}

void* ResizeRecord(void* record, std::size_t size) {
    if (MainHeap == nullptr) {
        return nullptr;
    }
    if (record == nullptr) {
        return NewRecord(size);
    }
    return HeapReAlloc(MainHeap, HEAP_ZERO_MEMORY, record, size);
}

void FreeRecord(void* record) {
    if (record != nullptr && MainHeap != nullptr) {
        HeapFree(MainHeap, 0, record);
    }
}

} // namespace dovemarl::runtime
