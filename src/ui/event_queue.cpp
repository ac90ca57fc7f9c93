#include "ui/event_queue.h"

#include <windows.h>

#include "runtime/heaps.h"
#include "runtime/thread_area.h"

namespace dovemarl::ui {

namespace {

// Codes from here on are never merged with the newest entry.
constexpr int32_t FirstUnmergedCode = 65537;

struct EventEntry {
    EventEntry* next; // towards the newest
    EventEntry* prev; // towards the oldest
    Event event;
};

// The per-thread area: a first-in first-out list.
struct EventQueue {
    EventEntry* oldest;
    EventEntry* newest;
};

int32_t QueueArea = 0;
bool QueueAreaRegistered = false;
CRITICAL_SECTION EventLock;
bool EventLockMade = false;

void InitQueue(void* area) {
    auto* queue = static_cast<EventQueue*>(area);
    queue->oldest = queue->newest = nullptr;
}

// Runs after the queue's thread has ended: nobody else can touch it.
void ReleaseQueue(void* area) {
    auto* queue = static_cast<EventQueue*>(area);
    for (EventEntry* entry = queue->oldest; entry != nullptr;) {
        EventEntry* next = entry->next;
        runtime::FreeRecord(entry);
        entry = next;
    }
    queue->oldest = queue->newest = nullptr;
}

// The calling thread's queue, made with its per-thread block on first use.
EventQueue* ThisThreadQueue() {
    return runtime::ServiceArea<EventQueue>(QueueAreaRegistered, QueueArea);
}

// The same, without making anything: a thread without a block has no events.
EventQueue* ExistingQueue() {
    return runtime::ExistingServiceArea<EventQueue>(QueueAreaRegistered, QueueArea);
}

void Lock() {
    EnterCriticalSection(&EventLock);
}
void Unlock() {
    LeaveCriticalSection(&EventLock);
}

bool SameEvent(const Event& a, const Event& b) {
    return a.code == b.code && a.control == b.control && a.window == b.window && a.type == b.type;
}

bool Matches(int32_t wanted, int32_t value) {
    return wanted == AnyValue || wanted == value;
}

void Remove(EventQueue* queue, EventEntry* entry) {
    (entry->prev != nullptr ? entry->prev->next : queue->oldest) = entry->next;
    (entry->next != nullptr ? entry->next->prev : queue->newest) = entry->prev;
    runtime::FreeRecord(entry);
}

// Removes the entries for which drop(event) holds. Under the lock.
template <typename Predicate> void RemoveWhere(EventQueue* queue, Predicate drop) {
    if (queue == nullptr || !EventLockMade) {
        return;
    }
    Lock();
    for (EventEntry* entry = queue->oldest; entry != nullptr;) {
        EventEntry* next = entry->next;
        if (drop(entry->event)) {
            Remove(queue, entry);
        }
        entry = next;
    }
    Unlock();
}

} // namespace

void StartEventQueues() {
    QueueArea = runtime::RegisterThreadArea(sizeof(EventQueue), InitQueue, ReleaseQueue);
    QueueAreaRegistered = true;
    InitializeCriticalSection(&EventLock);
    EventLockMade = true;
}

void StopEventQueues() {
    // The entries go with MainHeap; the lock lives in the module's memory.
    QueueAreaRegistered = false;
    if (EventLockMade) {
        DeleteCriticalSection(&EventLock);
        EventLockMade = false;
    }
}

void AppendEvent(const Event& event) {
    EventQueue* queue = ThisThreadQueue();
    if (queue == nullptr || !EventLockMade) {
        return;
    }
    Lock();
    EventEntry* newest = queue->newest;
    bool merged = newest != nullptr && newest->event.code < FirstUnmergedCode &&
                  SameEvent(newest->event, event);
    if (!merged) {
        if (auto* entry = runtime::NewRecord<EventEntry>()) {
            entry->event = event;
            entry->prev = newest;
            (newest != nullptr ? newest->next : queue->oldest) = entry;
            queue->newest = entry;
        }
    }
    Unlock();
}

bool TakeEvent(Event* event) {
    EventQueue* queue = ThisThreadQueue();
    if (queue == nullptr || !EventLockMade) {
        return false;
    }
    Lock();
    EventEntry* oldest = queue->oldest;
    if (oldest != nullptr) {
        *event = oldest->event;
        Remove(queue, oldest);
    }
    Unlock();
    return oldest != nullptr;
}

void DiscardWindowEvents(int32_t window) {
    RemoveWhere(ExistingQueue(), [window](const Event& event) { return event.window == window; });
}

void DiscardControlEvents(int32_t code, int32_t control, int32_t window, int32_t type) {
    RemoveWhere(ExistingQueue(), [=](const Event& event) {
        return event.code == code && Matches(control, event.control) &&
               Matches(window, event.window) && Matches(type, event.type);
    });
}

#ifdef DOVEMARL_TEST_BUILD
int PeekQueuedEvents(Event* events, int capacity) {
    EventQueue* queue = ExistingQueue();
    if (queue == nullptr || !EventLockMade) {
        return 0;
    }
    int count = 0;
    Lock();
    for (EventEntry* entry = queue->oldest; entry != nullptr; entry = entry->next, ++count) {
        if (count < capacity) {
            events[count] = entry->event;
        }
    }
    Unlock();
    return count;
}
#endif

} // namespace dovemarl::ui
