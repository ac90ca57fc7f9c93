#include "runtime/invariant.h"

#ifdef DOVEMARL_TEST_BUILD

#include <windows.h>

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

// No heap, no formatting: the failing code may hold any lock, the heaps'
// included.
void InvariantFailed(const char* condition, const char* file, int line) {
    char number[LineTextCapacity] = "";
    wsprintfA(number, "%d", line);
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
