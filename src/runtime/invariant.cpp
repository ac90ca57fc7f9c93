#include "runtime/invariant.h"

#ifdef DOVEMARL_TEST_BUILD

#include <windows.h>

#include "runtime/decimal_digits.h"

namespace dovemarl::runtime {

namespace {

constexpr int LineTextCapacity = 12; // a 32-bit number in decimal, sign and NUL

void WriteError(const char* text) {
    DWORD length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, length, &written, nullptr);
}

} // namespace

// No heap and nothing but kernel32: the failing code may hold any lock, the
// heaps' and the loader's included (a check can fail in the entry point,
// where a call into user32 could wait for a lock this thread's caller holds).
void InvariantFailed(const char* condition, const char* file, int line) {
    char number[LineTextCapacity] = "";
    number[WriteDecimal32(number, line)] = '\0';
    WriteError("invariant failed: ");
    WriteError(condition);
    WriteError(" at ");
    WriteError(file);
    WriteError(":");
    WriteError(number);
    WriteError("\n");
    __builtin_trap();
}

} // namespace dovemarl::runtime

#endif
