#pragma once
// The per-thread block: one zero-filled MainHeap block per thread, divided into
// areas that services register at start-up, made on a thread's first use and
// released after the thread ends.
#include <cstdint>

namespace dovemarl::runtime {

using AreaHook = void (*)(void* area);

// Reserves an area (size rounded up to a multiple of 4) in every thread's block
// and returns its offset. The calling thread's block grows at once and init,
// if given, runs for it. Only start-up registers areas.
int32_t RegisterThreadArea(int32_t size, AreaHook init, AreaHook release);
// The area at offset in the calling thread's block, making the block (and
// running every init hook, newest area first) on the thread's first use.
void* ThreadArea(int32_t offset);
// The same without making anything: null when the thread has no block. For
// shutdown, which must not create per-thread state.
void* ExistingThreadArea(int32_t offset);

// A service's area, typed: null while the service has not registered it (before
// its start, after its stop), else ThreadArea(offset), made on first use, or
// ExistingThreadArea(offset).
template <typename Area> Area* ServiceArea(bool registered, int32_t offset) {
    return registered ? static_cast<Area*>(ThreadArea(offset)) : nullptr;
}
template <typename Area> Area* ExistingServiceArea(bool registered, int32_t offset) {
    return registered ? static_cast<Area*>(ExistingThreadArea(offset)) : nullptr;
}

// Forgets every area and frees the block slot; blocks go with MainHeap.
void StopThreadAreas();

} // namespace dovemarl::runtime
