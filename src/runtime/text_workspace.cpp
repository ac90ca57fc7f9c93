#include "runtime/text_workspace.h"

#include <windows.h>

#include "runtime/heaps.h"
#include "runtime/thread_exit.h"

namespace dovemarl::runtime {

namespace {

constexpr int32_t InitialCapacity = 16;

// The slot and TextHeap are set by start-up, before any other thread can use
// them, and later only by a retry (MakeMissingParts) under RestartLock, which
// any thread may make when start-up could not make them. Threads read them
// without the lock, so the retry publishes them with release stores and
// readers load them with acquire loads: a thread that sees one also sees what
// was made before it.
DWORD TextSlot = TLS_OUT_OF_INDEXES;
SRWLOCK RestartLock = SRWLOCK_INIT;

DWORD LoadSlot() {
    return __atomic_load_n(&TextSlot, __ATOMIC_ACQUIRE);
}

void MakeMissingParts() {
    AcquireSRWLockExclusive(&RestartLock);
    if (TextHeap == nullptr) {
        __atomic_store_n(&TextHeap, MakePrivateHeap(), __ATOMIC_RELEASE);
    }
    if (TextSlot == TLS_OUT_OF_INDEXES) {
        __atomic_store_n(&TextSlot, TlsAlloc(), __ATOMIC_RELEASE);
    }
    ReleaseSRWLockExclusive(&RestartLock);
}

TextWorkspace* NewWorkspace(HANDLE heap, DWORD slot) {
    auto* workspace =
        static_cast<TextWorkspace*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(TextWorkspace)));
    if (workspace == nullptr) {
        return nullptr;
    }
    workspace->buffer = static_cast<char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, InitialCapacity));
    if (workspace->buffer == nullptr) {
        HeapFree(heap, 0, workspace);
        return nullptr;
    }
    workspace->capacity = InitialCapacity;
    TlsSetValue(slot, workspace);
    return workspace;
}

// Runs on a watcher thread after the workspace's thread has ended.
void ReleaseWorkspace(uintptr_t argument) {
    auto* workspace = reinterpret_cast<TextWorkspace*>(argument);
    HANDLE heap = PublishedTextHeap();
    HeapFree(heap, 0, workspace->buffer);
    HeapFree(heap, 0, workspace);
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
        NewWorkspace(TextHeap, TextSlot);
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
    if (LoadSlot() == TLS_OUT_OF_INDEXES || PublishedTextHeap() == nullptr) {
        // Start-up could not make the slot or the heap: try again, once for
        // all threads.
        MakeMissingParts();
    }
    DWORD slot = LoadSlot();
    HANDLE heap = PublishedTextHeap();
    if (slot != TLS_OUT_OF_INDEXES && heap != nullptr && TlsGetValue(slot) == nullptr) {
        WatchWorkspace(NewWorkspace(heap, slot));
    }
}

TextWorkspace* CurrentTextWorkspace() {
    DWORD slot = LoadSlot();
    if (slot != TLS_OUT_OF_INDEXES) {
        if (auto* workspace = static_cast<TextWorkspace*>(TlsGetValue(slot))) {
            return workspace;
        }
    }
    ReadyTextWorkspace();
    slot = LoadSlot();
    if (slot == TLS_OUT_OF_INDEXES) {
        return nullptr;
    }
    return static_cast<TextWorkspace*>(TlsGetValue(slot));
}

HANDLE ReadyTextHeap() {
    if (PublishedTextHeap() == nullptr) {
        MakeMissingParts();
    }
    return PublishedTextHeap();
}

HANDLE PublishedTextHeap() {
    return __atomic_load_n(&TextHeap, __ATOMIC_ACQUIRE);
}

} // namespace dovemarl::runtime
