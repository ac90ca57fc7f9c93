#include "runtime/thread_area.h"

#include <windows.h>

#include "runtime/heaps.h"
#include "runtime/linked_list.h"
#include "runtime/thread_exit.h"

namespace dovemarl::runtime {

namespace {

// An area with at least one hook; the list is newest first.
struct AreaEntry {
    AreaEntry* next;
    AreaEntry* prev;
    int32_t offset;
    AreaHook init;
    AreaHook release;
};

DWORD BlockSlot = TLS_OUT_OF_INDEXES;
int32_t BlockSize = 0;
AreaEntry* AreaList = nullptr;

constexpr int32_t RoundUpTo4(int32_t size) {
    return (size + 3) & ~3;
}

// Block sizes of 0 are made 4 so that a block is never a null allocation.
size_t AllocatedBlockSize() {
    return static_cast<size_t>(BlockSize > 0 ? BlockSize : 4);
}

uint8_t* CurrentBlock() {
    if (BlockSlot == TLS_OUT_OF_INDEXES) {
        return nullptr;
    }
    return static_cast<uint8_t*>(TlsGetValue(BlockSlot));
}

// Runs on a watcher thread after the block's thread has ended.
void ReleaseBlock(uintptr_t argument) {
    auto* block = reinterpret_cast<uint8_t*>(argument);
    for (AreaEntry* entry = AreaList; entry != nullptr; entry = entry->next) {
        if (entry->release != nullptr) {
            entry->release(block + entry->offset);
        }
    }
    FreeRecord(block);
}

} // namespace

int32_t RegisterThreadArea(int32_t size, AreaHook init, AreaHook release) {
    if (BlockSlot == TLS_OUT_OF_INDEXES) {
        BlockSlot = TlsAlloc();
        if (BlockSlot == TLS_OUT_OF_INDEXES) {
            return 0;
        }
    }
    int32_t offset = BlockSize;
    BlockSize += RoundUpTo4(size);
    void* block = ResizeRecord(CurrentBlock(), AllocatedBlockSize());
    if (block == nullptr) {
        // A block too small for the new area must not stay in use: drop it,
        // and ThreadArea makes this thread a whole one when it is next asked.
        FreeRecord(CurrentBlock());
    }
    TlsSetValue(BlockSlot, block);
    if (init != nullptr || release != nullptr) {
        auto* entry = NewRecord<AreaEntry>();
        if (entry != nullptr) {
            entry->offset = offset;
            entry->init = init;
            entry->release = release;
            PushFront(AreaList, entry);
        }
        if (init != nullptr && block != nullptr) {
            init(static_cast<uint8_t*>(block) + offset);
        }
    }
    return offset;
}

void* ThreadArea(int32_t offset) {
    if (BlockSlot == TLS_OUT_OF_INDEXES) {
        return nullptr;
    }
    uint8_t* block = CurrentBlock();
    if (block == nullptr) {
        block = static_cast<uint8_t*>(NewRecord(AllocatedBlockSize()));
        if (block == nullptr) {
            return nullptr;
        }
        TlsSetValue(BlockSlot, block);
        for (AreaEntry* entry = AreaList; entry != nullptr; entry = entry->next) {
            if (entry->init != nullptr) {
                entry->init(block + entry->offset);
            }
        }
        OnThreadExit(ReleaseBlock, reinterpret_cast<uintptr_t>(block));
    }
    return block + offset;
}

void* ExistingThreadArea(int32_t offset) {
    uint8_t* block = CurrentBlock();
    return block != nullptr ? block + offset : nullptr;
}

void StopThreadAreas() {
    // The block slot would otherwise be lost with every unload: the process
    // has only so many slots.
    if (BlockSlot != TLS_OUT_OF_INDEXES) {
        TlsFree(BlockSlot);
        BlockSlot = TLS_OUT_OF_INDEXES;
    }
    BlockSize = 0;
    AreaList = nullptr;
}

} // namespace dovemarl::runtime
