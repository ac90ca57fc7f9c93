#pragma once
// The module's private heaps. Every runtime record comes from MainHeap and
// every text buffer from TextHeap, so that detaching frees them whole.
#include <windows.h>

#include <cstddef>

namespace dovemarl::runtime {

extern HANDLE MainHeap;
extern HANDLE TextHeap;

// A private heap that serialises its own calls, 4096 bytes committed at
// first, without a maximum size.
HANDLE MakePrivateHeap();
void DestroyPrivateHeap(HANDLE& heap);

// A zero-filled record from MainHeap; null when the heap cannot supply it.
void* NewRecord(std::size_t size);
// Resizes a MainHeap record, zero-filling any growth; null when it cannot (the
// record is then unchanged).
void* ResizeRecord(void* record, std::size_t size);
// Gives a record back to MainHeap; null does nothing.
void FreeRecord(void* record);

template <typename T> T* NewRecord() {
    return static_cast<T*>(NewRecord(sizeof(T)));
}

} // namespace dovemarl::runtime
