#include "ui/brush_cache.h"

#include "runtime/heaps.h"
#include "runtime/linked_list.h"

namespace dovemarl::ui {

namespace {

struct BrushEntry {
    BrushEntry* next;
    BrushEntry* prev;
    COLORREF colour;
    HBRUSH brush;
    int users;
};

BrushEntry* Brushes = nullptr;
CRITICAL_SECTION BrushLock;
bool BrushLockMade = false;

BrushEntry* Find(COLORREF colour) {
    for (BrushEntry* entry = Brushes; entry != nullptr; entry = entry->next) {
        if (entry->colour == colour) {
            return entry;
        }
    }
    return nullptr;
}

} // namespace

void StartBrushCache() {
    InitializeCriticalSection(&BrushLock);
    BrushLockMade = true;
    Brushes = nullptr;
}

void StopBrushCache() {
    if (!BrushLockMade) {
        return;
    }
    // Brushes still in use belong to controls that outlive the module.
    for (BrushEntry* entry = Brushes; entry != nullptr; entry = entry->next) {
        DeleteObject(entry->brush);
    }
    Brushes = nullptr; // the entries go with MainHeap
    DeleteCriticalSection(&BrushLock);
    BrushLockMade = false;
}

HBRUSH TakeBrush(COLORREF colour) {
    if (!BrushLockMade) {
        return nullptr;
    }
    EnterCriticalSection(&BrushLock);
    BrushEntry* entry = Find(colour);
    if (entry == nullptr) {
        HBRUSH brush = CreateSolidBrush(colour);
        entry = brush != nullptr ? runtime::NewRecord<BrushEntry>() : nullptr;
        if (entry != nullptr) {
            entry->colour = colour;
            entry->brush = brush;
            runtime::PushFront(Brushes, entry);
        } else if (brush != nullptr) {
            DeleteObject(brush);
        }
    }
    if (entry != nullptr) {
        ++entry->users;
    }
    LeaveCriticalSection(&BrushLock);
    return entry != nullptr ? entry->brush : nullptr;
}

void GiveBackBrush(HBRUSH brush) {
    if (brush == nullptr || !BrushLockMade) {
        return;
    }
    EnterCriticalSection(&BrushLock);
    for (BrushEntry* entry = Brushes; entry != nullptr; entry = entry->next) {
        if (entry->brush == brush) {
            if (--entry->users == 0) {
                DeleteObject(entry->brush);
                runtime::Unlink(Brushes, entry);
                runtime::FreeRecord(entry);
            }
            break;
        }
    }
    LeaveCriticalSection(&BrushLock);
}

#ifdef DOVEMARL_TEST_BUILD
int BrushUsers(COLORREF colour) {
    if (!BrushLockMade) {
        return 0;
    }
    EnterCriticalSection(&BrushLock);
    BrushEntry* entry = Find(colour);
    int users = entry != nullptr ? entry->users : 0;
    LeaveCriticalSection(&BrushLock);
    return users;
}
#endif

} // namespace dovemarl::ui
