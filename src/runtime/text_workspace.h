#pragma once
// Each thread's text workspace: a growable buffer in which texts are built,
// kept in a thread-local slot, made on a thread's first use and released
// after the thread ends.
#include <windows.h>

#include <cstdint>

namespace dovemarl::runtime {

struct TextWorkspace {
    char* buffer; // on TextHeap, capacity + 5 bytes once grown
    int32_t capacity;
    int32_t position; // length of everything built so far
};

// Text service start: TextHeap, the text slot, and the calling (attaching)
// thread's workspace, which gets no thread-exit release: it goes with TextHeap.
void StartTextService();
// Text service end: destroys TextHeap with every workspace and text variable,
// and frees the text slot.
void StopTextService();

// Makes sure the calling thread has a workspace, starting the text service
// again if its slot could not be made at start-up.
void ReadyTextWorkspace();
// The calling thread's workspace, made ready first; null only when TextHeap
// cannot supply one.
TextWorkspace* CurrentTextWorkspace();

// TextHeap as threads other than start-up and the end step read it: another
// thread's retry may be making it. The first form tries that retry itself when
// the heap is missing; both are null when there is none.
HANDLE ReadyTextHeap();
HANDLE PublishedTextHeap();

} // namespace dovemarl::runtime
