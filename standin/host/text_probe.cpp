#include "text_probe.h"

#include <windows.h>

namespace standin {

namespace {

constexpr DWORD ReadableProtections = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                                      PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE |
                                      PAGE_EXECUTE_WRITECOPY;

// How many bytes from address on can be read, up to limit.
size_t ReadableSpan(const char* address, size_t limit) {
    MEMORY_BASIC_INFORMATION info = {};
    if (VirtualQuery(address, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT ||
        (info.Protect & ReadableProtections) == 0 || (info.Protect & PAGE_GUARD) != 0) {
        return 0;
    }
    const char* end = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    size_t span = static_cast<size_t>(end - address);
    return span < limit ? span : limit;
}

} // namespace

ProbedText ProbeText(const char* address) {
    ProbedText result;
    if (address == nullptr) {
        return result;
    }
    // Scan region by region: a text may cross into the next region.
    const char* at = address;
    while (static_cast<size_t>(at - address) < MaxProbedText) {
        size_t span = ReadableSpan(at, MaxProbedText - static_cast<size_t>(at - address));
        if (span == 0) {
            result.state = TextState::Unreadable;
            return result;
        }
        for (size_t i = 0; i < span; ++i) {
            if (at[i] == '\0') {
                result.state = TextState::Readable;
                result.text.assign(address, at + i);
                return result;
            }
        }
        at += span;
    }
    result.state = TextState::Unterminated;
    return result;
}

const char* Describe(TextState state) {
    switch (state) {
    case TextState::Readable:
        return "a readable text";
    case TextState::Null:
        return "null";
    case TextState::Unreadable:
        return "an address of unreadable memory";
    case TextState::Unterminated:
        return "a text with no NUL within 4096 bytes";
    }
    return "?";
}

} // namespace standin
