#include "call_sites.h"

#include <cstdint>
#include <cstring>

namespace standin {

namespace {

constexpr unsigned char CallRelative = 0xE8; // E8 rel32
constexpr int CallRelativeLength = 5;
constexpr unsigned char Group5 = 0xFF; // FF /2 is an indirect call
constexpr unsigned IndirectCallReg = 2;
constexpr unsigned NoIndex = 4; // of a SIB byte
constexpr unsigned NoBase = 5;  // of a SIB byte or r/m with mod 0

// The length of the indirect call whose first of available bytes is code, or
// 0 when they are no indirect call. Its ModRM byte says what follows: a SIB
// byte when r/m is 4, then a displacement of 1 byte (mod 1), 4 (mod 2), or 4
// with no base register (mod 0 with r/m 5, or SIB base 5).
int IndirectCallLength(const unsigned char* code, int available) {
    if (available < 2 || code[0] != Group5 || ((code[1] >> 3) & 7u) != IndirectCallReg) {
        return 0;
    }
    unsigned mod = code[1] >> 6;
    unsigned rm = code[1] & 7u;
    int length = 2;
    if (mod == 3) {
        return length;
    }
    if (rm == 4) {
        if (available < 3) {
            return 0;
        }
        ++length;
        if (mod == 0 && (code[2] & 7u) == NoBase) {
            length += 4;
        }
    } else if (mod == 0 && rm == NoBase) {
        length += 4;
    }
    return length + (mod == 1 ? 1 : mod == 2 ? 4 : 0);
}

DWORD Register(const CONTEXT& context, unsigned number) {
    switch (number) {
    case 0:
        return context.Eax;
    case 1:
        return context.Ecx;
    case 2:
        return context.Edx;
    case 3:
        return context.Ebx;
    case 4:
        return context.Esp + sizeof(DWORD); // before the call pushed its return address
    case 5:
        return context.Ebp;
    case 6:
        return context.Esi;
    default:
        return context.Edi;
    }
}

template <typename T> T Read(const unsigned char* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// Where the indirect call at code went: a register, or the value at the
// address its operand names.
uintptr_t IndirectTarget(const unsigned char* code, const CONTEXT& context) {
    unsigned mod = code[1] >> 6;
    unsigned rm = code[1] & 7u;
    if (mod == 3) {
        return Register(context, rm);
    }
    const unsigned char* next = code + 2;
    DWORD address = 0;
    bool base = true;
    if (rm == 4) {
        unsigned char sib = *next++;
        unsigned index = (sib >> 3) & 7u;
        if (index != NoIndex) {
            address += Register(context, index) << (sib >> 6);
        }
        base = !(mod == 0 && (sib & 7u) == NoBase);
        address += base ? Register(context, sib & 7u) : 0;
    } else if (mod == 0 && rm == NoBase) {
        base = false;
    } else {
        address += Register(context, rm);
    }
    if (mod == 1) {
        address += static_cast<DWORD>(static_cast<int32_t>(Read<int8_t>(next)));
    } else if (mod == 2 || !base) {
        address += Read<DWORD>(next);
    }
    DWORD target = 0;
    if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(uintptr_t{address}),
                           &target, sizeof target, nullptr)) {
        return 0;
    }
    return target;
}

} // namespace

bool EndsWithCall(const unsigned char* next) {
    if (next[-CallRelativeLength] == CallRelative) {
        return true;
    }
    for (int length = 2; length <= LongestCall; ++length) {
        if (IndirectCallLength(next - length, length) == length) {
            return true;
        }
    }
    return false;
}

bool CalledFrom(const void* returnAddress, const void* target, const CONTEXT& context) {
    unsigned char before[LongestCall];
    auto at = reinterpret_cast<uintptr_t>(returnAddress);
    if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(at - LongestCall),
                           before, sizeof before, nullptr)) {
        return false;
    }
    const unsigned char* next = before + LongestCall;
    auto wanted = reinterpret_cast<uintptr_t>(target);
    if (next[-CallRelativeLength] == CallRelative &&
        at + static_cast<uintptr_t>(Read<int32_t>(next - 4)) == wanted) {
        return true;
    }
    for (int length = 2; length <= LongestCall; ++length) {
        const unsigned char* code = next - length;
        if (IndirectCallLength(code, length) == length && IndirectTarget(code, context) == wanted) {
            return true;
        }
    }
    return false;
}

} // namespace standin
