#include "pooled_resources.h"

#include <windows.h>

namespace standin {

namespace {

constexpr ATOM FirstStringAtom = 0xC000; // below it, atoms are integers with no entry
constexpr UINT_PTR LastGdiHandleIndex = 0xFFFF;

} // namespace

int CommittedPrivateKiB() {
    SIZE_T committed = 0;
    MEMORY_BASIC_INFORMATION region;
    for (uintptr_t at = 0; VirtualQuery(reinterpret_cast<const void*>(at), &region,
                                        sizeof region) == sizeof region;) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            committed += region.RegionSize;
        }
        uintptr_t next = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (next <= at) {
            break; // the top of the address space
        }
        at = next;
    }
    return static_cast<int>(committed / 1024);
}

int CountHeaps() {
    return static_cast<int>(GetProcessHeaps(0, nullptr));
}

int FirstFreeTlsSlot() {
    DWORD slot = TlsAlloc();
    if (slot == TLS_OUT_OF_INDEXES) {
        return -1;
    }
    TlsFree(slot);
    return static_cast<int>(slot);
}

int FirstFreeFlsSlot() {
    DWORD slot = FlsAlloc(nullptr);
    if (slot == FLS_OUT_OF_INDEXES) {
        return -1;
    }
    FlsFree(slot);
    return static_cast<int>(slot);
}

int CountGlobalAtoms() {
    int count = 0;
    char name[256];
    for (UINT value = FirstStringAtom; value <= 0xFFFF; ++value) {
        count += GlobalGetAtomNameA(static_cast<ATOM>(value), name, sizeof name) != 0;
    }
    return count;
}

int CountGdiObjects() {
    // The system's own count where it answers (Windows); under Wine, which
    // answers 0, each handle index is asked for its object's type: Wine takes
    // a GDI handle's index alone (its high word zero) for the handle.
    if (DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) {
        return static_cast<int>(counted);
    }
    int count = 0;
    for (UINT_PTR value = 1; value <= LastGdiHandleIndex; ++value) {
        count += GetObjectType(reinterpret_cast<HGDIOBJ>(value)) != 0;
    }
    return count;
}

} // namespace standin
