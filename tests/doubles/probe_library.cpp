// A small DLL for the library service's tests: stdcall exports with one 32-bit
// argument, and a count of the times it was attached to the process.
#include <windows.h>

#include <cstdint>

namespace {
volatile LONG Attaches = 0;
volatile LONG Calls = 0;
} // namespace

extern "C" {

__declspec(dllexport) int32_t __stdcall AddOne(int32_t value) {
    InterlockedIncrement(&Calls);
    return value + 1;
}

// Returns its argument untouched, so a caller can see what it passed.
__declspec(dllexport) int32_t __stdcall Echo(int32_t value) {
    return value;
}

__declspec(dllexport) int32_t __stdcall CallCount(int32_t) {
    return Calls;
}

__declspec(dllexport) int32_t __stdcall AttachCount(int32_t) {
    return Attaches;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        InterlockedIncrement(&Attaches);
    }
    return TRUE;
}

} // extern "C"
