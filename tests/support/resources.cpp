#include "support/resources.h"

namespace testing_support {

namespace {
constexpr UINT_PTR LastProbedHandle = 0x10000;
constexpr UINT_PTR HandleStep = 4; // handle values are multiples of 4
} // namespace

int CountOpenHandles() {
    int count = 0;
    for (UINT_PTR value = HandleStep; value < LastProbedHandle; value += HandleStep) {
        DWORD flags = 0;
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != FALSE;
    }
    return count;
}

HeapUsage UsageOf(HANDLE heap) {
    HeapUsage usage;
    if (heap == nullptr) {
        return usage;
    }
    HeapLock(heap);
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap, &entry)) {
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
            ++usage.blocks;
            usage.bytes += entry.cbData;
        }
    }
    HeapUnlock(heap);
    return usage;
}

} // namespace testing_support
