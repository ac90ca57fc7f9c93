#include "runtime/text_workspace.h"

#include <windows.h>

#include "runtime/heaps.h"
#include "runtime/thread_exit.h"

namespace dovemarl::runtime {

namespace {

constexpr int32_t InitialCapacity = 16;

DWORD TextSlot = TLS_OUT_OF_INDEXES;
// Guards the second attempt to start the text service, which any thread may
// make when start-up could not allocate the slot.
SRWLOCK RestartLock = SRWLOCK_INIT;

TextWorkspace* NewWorkspace() {
    auto* workspace =
        static_cast<TextWorkspace*>(HeapAlloc(TextHeap, HEAP_ZERO_MEMORY, sizeof(TextWorkspace)));
    if (workspace == nullptr) {
        return nullptr;
    }
    workspace->buffer = static_cast<char*>(HeapAlloc(TextHeap, HEAP_ZERO_MEMORY, InitialCapacity));
    if (workspace->buffer == nullptr) {
        HeapFree(TextHeap, 0, workspace);
        return nullptr;
    }
    workspace->capacity = InitialCapacity;
    TlsSetValue(TextSlot, workspace);
    return workspace;
}

// Runs on a watcher thread after the workspace's thread has ended.
void ReleaseWorkspace(uintptr_t argument) {
    auto* workspace = reinterpret_cast<TextWorkspace*>(argument);
    HeapFree(TextHeap, 0, workspace->buffer);
    HeapFree(TextHeap, 0, workspace);
}

void WatchWorkspace(TextWorkspace* workspace) {
    if (workspace != nullptr) {
        OnThreadExit(ReleaseWorkspace, reinterpret_cast<uintptr_t>(workspace));
    }
}

} // namespace

void StartTextService() {
    TextHeap = MakePrivateHeap();
    TextSlot = TlsAlloc();
    if (TextHeap != nullptr && TextSlot != TLS_OUT_OF_INDEXES) {
        NewWorkspace();
    }
}

void StopTextService() {
    DestroyPrivateHeap(TextHeap);
    if (TextSlot != TLS_OUT_OF_INDEXES) {
        TlsFree(TextSlot); // also clears the slot in every thread
        TextSlot = TLS_OUT_OF_INDEXES;
    }
}

void ReadyTextWorkspace() {
    if (TextSlot == TLS_OUT_OF_INDEXES) {
        // Start-up could not make the slot: try again, once for all threads.
        AcquireSRWLockExclusive(&RestartLock);
        if (TextHeap == nullptr) {
            TextHeap = MakePrivateHeap();
        }
        if (TextSlot == TLS_OUT_OF_INDEXES) {
            TextSlot = TlsAlloc();
        }
        ReleaseSRWLockExclusive(&RestartLock);
        if (TextSlot == TLS_OUT_OF_INDEXES) {
            return;
        }
    }
    if (TlsGetValue(TextSlot) == nullptr && TextHeap != nullptr) {
        WatchWorkspace(NewWorkspace());
    }
}

TextWorkspace* CurrentTextWorkspace() {
    if (TextSlot != TLS_OUT_OF_INDEXES) {
        if (auto* workspace = static_cast<TextWorkspace*>(TlsGetValue(TextSlot))) {
            return workspace;
        }
    }
    ReadyTextWorkspace();
    if (TextSlot == TLS_OUT_OF_INDEXES) {
        return nullptr;
    }
    return static_cast<TextWorkspace*>(TlsGetValue(TextSlot));
}

} // namespace dovemarl::runtime
