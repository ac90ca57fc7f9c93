#include "run/timer_resolution.h"

namespace dovemarl::run {

namespace {

constexpr UINT TimerResolutionMs = 1;
constexpr char WinmmPath[] = "\\winmm.dll";

using TimerPeriodCall = UINT(WINAPI*)(UINT);

// winmm.dll is not imported: every unload of it leaves handles behind (on this
// platform's Wine at least) and costs milliseconds, and an import would make
// every load and unload of the module pay that in a host that has not loaded
// winmm itself. It is loaded from the system folder on the first wait and
// pinned, so the process pays once and a planted winmm.dll is never loaded.
struct TimerPeriod {
    TimerPeriodCall begin;
    TimerPeriodCall end;
};

TimerPeriod ResolveTimerPeriod() {
    char path[MAX_PATH] = "";
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + sizeof WinmmPath > MAX_PATH) {
        return {};
    }
    lstrcatA(path, WinmmPath);
    HMODULE winmm = LoadLibraryA(path);
    if (winmm == nullptr) {
        return {};
    }
    TimerPeriod period = {
        reinterpret_cast<TimerPeriodCall>(
            reinterpret_cast<void*>(GetProcAddress(winmm, "timeBeginPeriod"))),
        reinterpret_cast<TimerPeriodCall>(
            reinterpret_cast<void*>(GetProcAddress(winmm, "timeEndPeriod"))),
    };
    // Pinned by its address, not its path: under WoW64 the path asked for
    // (system32) is not the one the library was loaded from (SysWOW64). Only
    // once pinned is the load's own reference given back; a pin that failed
    // leaves that reference held instead, so the addresses above stay good.
    HMODULE pinned = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCSTR>(winmm), &pinned)) {
        FreeLibrary(winmm);
    }
    return period;
}

// Resolved once per process: the pin outlives the module, and a reload
// resolves the same addresses again.
TimerPeriod Resolved() {
    static SRWLOCK lock = SRWLOCK_INIT;
    static TimerPeriod period = {};
    static bool resolved = false;
    AcquireSRWLockExclusive(&lock);
    if (!resolved) {
        period = ResolveTimerPeriod();
        resolved = true;
    }
    ReleaseSRWLockExclusive(&lock);
    return period;
}

} // namespace

void SleepPrecisely(DWORD ms) {
    TimerPeriod period = Resolved();
    if (period.begin != nullptr) {
        period.begin(TimerResolutionMs);
    }
    Sleep(ms);
    if (period.end != nullptr) {
        period.end(TimerResolutionMs);
    }
}

} // namespace dovemarl::run
