#include "runtime/object_table.h"

#include <cstring>

#include "runtime/heaps.h"
#include "runtime/linked_list.h"

namespace dovemarl::runtime {

namespace {

void* RecordOf(HandleElement* element) {
    return element + 1;
}

bool InSlotRange(const ObjectTable* table, int32_t value) {
    return value >= 0 && value < table->slotCount;
}

// The handle list element whose record value names, or null. Values that name
// no record of this table are refused here rather than read through.
HandleElement* FindElement(ObjectTable* table, int32_t value) {
    for (HandleElement* element = table->handles; element != nullptr; element = element->next) {
        if (HandleOf(RecordOf(element)) == value) {
            return element;
        }
    }
    return nullptr;
}

bool IsLive(const void* record) {
    return record != nullptr && *static_cast<const uint32_t*>(record) != 0;
}

bool GrowSlots(ObjectTable* table, int32_t number) {
    int64_t count = static_cast<int64_t>(number) + table->growthStep;
    if (count > INT32_MAX / static_cast<int64_t>(sizeof(void*))) {
        return false;
    }
    void* slots = ResizeRecord(table->slots, static_cast<size_t>(count) * sizeof(void*));
    if (slots == nullptr) {
        return false;
    }
    table->slots = static_cast<void**>(slots);
    table->slotCount = static_cast<int32_t>(count);
    return true;
}

} // namespace

ObjectTable* MakeObjectTable(int32_t recordSize, int32_t growthStep, ReleaseOperation release) {
    auto* table = NewRecord<ObjectTable>();
    if (table == nullptr) {
        return nullptr;
    }
    table->recordSize = recordSize;
    table->growthStep = growthStep;
    table->release = release;
    table->slots = static_cast<void**>(NewRecord(static_cast<size_t>(growthStep) * sizeof(void*)));
    table->slotCount = table->slots != nullptr ? growthStep : 0;
    InitializeCriticalSection(&table->lock);
    return table;
}

void RetireObjectTable(ObjectTable*& table) {
    if (table != nullptr) {
        DeleteCriticalSection(&table->lock);
        table = nullptr;
    }
}

void* ObtainRecord(ObjectTable* table, int32_t number) {
    if (table == nullptr || number < AnyNumber) {
        return nullptr;
    }
    EnterCriticalSection(&table->lock);
    void* record = nullptr;
    if (number == AnyNumber) {
        auto* element = static_cast<HandleElement*>(
            NewRecord(sizeof(HandleElement) + static_cast<size_t>(table->recordSize)));
        if (element != nullptr) {
            PushFront(table->handles, element);
            record = RecordOf(element);
        }
    } else if (number < table->slotCount || GrowSlots(table, number)) {
        if (table->slots[number] != nullptr) {
            // Close the old object; its record is then reused in place.
            if (table->release != nullptr) {
                table->release(number);
            }
            std::memset(table->slots[number], 0, static_cast<size_t>(table->recordSize));
        } else {
            table->slots[number] = NewRecord(static_cast<size_t>(table->recordSize));
        }
        record = table->slots[number];
    }
    LeaveCriticalSection(&table->lock);
    return record;
}

void* FindRecord(ObjectTable* table, int32_t value) {
    if (table == nullptr) {
        return nullptr;
    }
    EnterCriticalSection(&table->lock);
    void* record = nullptr;
    if (InSlotRange(table, value)) {
        record = table->slots[value];
    } else if (HandleElement* element = FindElement(table, value)) {
        record = RecordOf(element);
    }
    LeaveCriticalSection(&table->lock);
    return IsLive(record) ? record : nullptr;
}

void GiveBackRecord(ObjectTable* table, int32_t value) {
    if (table == nullptr) {
        return;
    }
    EnterCriticalSection(&table->lock);
    if (InSlotRange(table, value)) {
        if (table->slots[value] != nullptr) {
            std::memset(table->slots[value], 0, static_cast<size_t>(table->recordSize));
        }
    } else if (HandleElement* element = FindElement(table, value)) {
        Unlink(table->handles, element);
        FreeRecord(element);
    }
    LeaveCriticalSection(&table->lock);
}

void ReleaseAllRecords(ObjectTable* table) {
    if (table == nullptr || table->release == nullptr) {
        return;
    }
    EnterCriticalSection(&table->lock);
    for (table->walkPosition = 0; table->walkPosition < table->slotCount; ++table->walkPosition) {
        if (IsLive(table->slots[table->walkPosition])) {
            table->release(table->walkPosition);
        }
    }
    HandleElement* oldest = table->handles;
    while (oldest != nullptr && oldest->next != nullptr) {
        oldest = oldest->next;
    }
    // Step on before each call: the release operation gives its record back.
    for (HandleElement* element = oldest; element != nullptr; element = table->walkCursor) {
        table->walkCursor = element->prev;
        table->release(HandleOf(RecordOf(element)));
    }
    table->walkCursor = nullptr;
    LeaveCriticalSection(&table->lock);
}

int32_t CollectRecords(ObjectTable* table, RecordFilter select, const void* context,
                       int32_t* numbers, int32_t capacity) {
    if (table == nullptr) {
        return 0;
    }
    int32_t found = 0;
    EnterCriticalSection(&table->lock);
    for (int32_t slot = 0; slot < table->slotCount && found < capacity; ++slot) {
        if (IsLive(table->slots[slot]) && select(table->slots[slot], context)) {
            numbers[found++] = slot;
        }
    }
    for (HandleElement* element = table->handles; element != nullptr && found < capacity;
         element = element->next) {
        if (IsLive(RecordOf(element)) && select(RecordOf(element), context)) {
            numbers[found++] = HandleOf(RecordOf(element));
        }
    }
    LeaveCriticalSection(&table->lock);
    return found;
}

} // namespace dovemarl::runtime
