#pragma once
// Object tables: how the window, label and library services name the objects
// they make. A caller picks a slot number (0, 1, 2, ...) or passes AnyNumber,
// and then the object's handle is the address of its record.
#include <windows.h>

#include <cstdint>

namespace dovemarl::runtime {

constexpr int32_t AnyNumber = -1;

// Closes one object of a kind, named by slot number, handle or AnyNumber.
using ReleaseOperation = void (*)(int32_t value);

// A record made for AnyNumber sits behind these links on the handle list.
struct HandleElement {
    HandleElement* next;
    HandleElement* prev;
};

struct ObjectTable {
    int32_t recordSize; // every record starts with the object's system handle
    int32_t growthStep; // initial slots, and slots added beyond a requested one
    int32_t slotCount;
    void** slots;
    HandleElement* handles; // newest first
    ReleaseOperation release;
    int32_t walkPosition;      // where ReleaseAllRecords is among the slots
    HandleElement* walkCursor; // and among the handles
    CRITICAL_SECTION lock;
};

// A zero-filled table from MainHeap; null when it cannot be made.
ObjectTable* MakeObjectTable(int32_t recordSize, int32_t growthStep, ReleaseOperation release);
// Deletes the table's lock; its memory goes with MainHeap.
void RetireObjectTable(ObjectTable*& table);

// The record for number: a fresh one on the handle list for AnyNumber, else
// the slot's (growing the slot array, and closing a live object first).
// Null when MainHeap cannot supply it or number is below AnyNumber.
void* ObtainRecord(ObjectTable* table, int32_t number);
// The live record a slot number or handle names, or null.
void* FindRecord(ObjectTable* table, int32_t value);
// Zeroes a slot's record in place, or unlinks and frees a handle's record.
// The release operation is not called.
void GiveBackRecord(ObjectTable* table, int32_t value);
// Passes every live slot (ascending) and then every handle (oldest first) to
// the table's release operation, holding the table's lock throughout.
void ReleaseAllRecords(ObjectTable* table);

// Writes the numbers (slot numbers, then handles) of up to capacity live
// records that select accepts into numbers, under the table's lock, and
// returns how many it wrote. Nothing is released: the caller does that after.
using RecordFilter = bool (*)(const void* record, const void* context);
int32_t CollectRecords(ObjectTable* table, RecordFilter select, const void* context,
                       int32_t* numbers, int32_t capacity);

// The handle that names a record made for AnyNumber.
inline int32_t HandleOf(const void* record) {
    return static_cast<int32_t>(reinterpret_cast<uintptr_t>(record));
}

} // namespace dovemarl::runtime
