#pragma once
// An unloaded plug-in's image, for the doctor's tests: address space reserved
// and never committed, as an image's range reads after the unload.
#include <windows.h>

#include "doctor/resource_census.h"

namespace testing_support {

// Stands for an unloaded plug-in's instance: a granule of address space of its
// own, as an image has, since Wine tells local classes apart by the 64 KB
// granule.
struct GoneInstance {
    static constexpr DWORD Granule = 0x10000;
    void* base = VirtualAlloc(nullptr, Granule, MEM_RESERVE, PAGE_NOACCESS);
    GoneInstance() = default;
    GoneInstance(const GoneInstance&) = delete;
    GoneInstance& operator=(const GoneInstance&) = delete;
    ~GoneInstance() { VirtualFree(base, 0, MEM_RELEASE); }
    HINSTANCE Instance() const { return static_cast<HINSTANCE>(base); }
    standin::ImageRange Image() const { return {static_cast<const char*>(base), Granule}; }
    // An address in the granule, where a callback of the gone image was.
    void* At(uintptr_t offset) const { return static_cast<char*>(base) + offset; }
};

} // namespace testing_support
