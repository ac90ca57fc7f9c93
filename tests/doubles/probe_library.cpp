// A small DLL for the library service's tests: stdcall exports with one 32-bit
// argument, exports that pop another number of bytes than such a call pushes,
// and a count of the times it was attached to the process.
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

// Pops nothing.
__declspec(dllexport) int32_t __cdecl CdeclAddOne(int32_t value) {
    return value + 1;
}

// Pop 0 and 8 bytes; the latter also overwrites both its argument slots, as
// a callee may use them as scratch.
__declspec(dllexport) int32_t __stdcall NoArgument() {
    return 7;
}

__declspec(dllexport) int32_t __stdcall TwoArgumentsAddOne(int32_t value, int32_t extra) {
    volatile int32_t* slots[2] = {&value, &extra};
    int32_t result = *slots[0] + 1;
    *slots[0] = -1;
    *slots[1] = -1;
    return result;
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
