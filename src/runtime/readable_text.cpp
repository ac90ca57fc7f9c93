#include "runtime/readable_text.h"

#include <windows.h>

#include <cstring>

namespace dovemarl::runtime {

namespace {

constexpr DWORD ReadableProtections = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                                      PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                                      PAGE_EXECUTE_WRITECOPY;

// A guard page counts as unreadable: touching one would take its guard away
// from the thread whose stack it protects.
bool Readable(const MEMORY_BASIC_INFORMATION& region) {
    return region.State == MEM_COMMIT && (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) == 0 &&
           (region.Protect & ReadableProtections) != 0;
}

} // namespace

// The host's record and the query library hand over addresses the module
// cannot vouch for; reading an address that is not mapped would end the
// host's process. Each region the text spans is asked about before it is
// read, which holds as long as nobody frees the text while it is being read
// (the host contract forbids that). IsBadReadPtr is no substitute: it
// swallows the fault of a guard page and so breaks another thread's stack.
bool MeasureReadableText(const char* text, size_t* length) {
    if (text == nullptr) {
        return false;
    }
    const char* at = text;
    for (;;) {
        MEMORY_BASIC_INFORMATION region = {};
        if (VirtualQuery(at, &region, sizeof region) == 0 || !Readable(region)) {
            return false;
        }
        const char* end = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (const void* nul = std::memchr(at, 0, static_cast<size_t>(end - at))) {
            *length = static_cast<size_t>(static_cast<const char*>(nul) - text);
            return true;
        }
        at = end;
    }
}

} // namespace dovemarl::runtime
