#pragma once
// The call log a query library double keeps in shared memory, so that a test
// can see every load, free and query even though the plug-in frees the
// library (and with it the double's own memory) within each run.
#include <cstdint>

namespace query_double {

constexpr char LogName[] = "DovemarlQueryDoubleLog";
constexpr int MaxCalls = 128;

struct Call {
    char name[24];
    uint32_t argument;
};

struct Log {
    volatile long loads;
    volatile long frees;
    volatile long calls;
    Call entries[MaxCalls];
};

// What the full double answers.
constexpr int32_t Pid = 4242;
constexpr int32_t WinX = 11;
constexpr int32_t WinY = -22;
constexpr int32_t WinWidth = 333;
constexpr int32_t WinHeight = 444;
constexpr uint32_t Hwnd = 0x80001234u; // prints negative
constexpr char Title[] = "Query Title";

} // namespace query_double
