// Query library doubles that misbehave one way each, built as sableroot.dll
// into a folder per fault (see tests/stress/CMakeLists.txt). The numbers are
// the full double's; only the fault differs:
//   FAULT_ZERO_TITLE        getgametitle returns 0
//   FAULT_UNREADABLE_TITLE  getgametitle returns the address of a reserved,
//                           uncommitted page
//   FAULT_HUGE_TITLE        getgametitle returns a 1 MiB text
//   FAULT_REFUSES_LOAD      the entry point returns FALSE, so the load fails
//   FAULT_SLOW_QUERY        the first getgamewinx of the process blocks until
//                           the test sets SlowQueryRelease (or minutes pass)
//   FAULT_CDECL_QUERY       every query is cdecl: it pops nothing
//   FAULT_WRONG_ARITY_QUERY every query is stdcall with the wrong number of
//                           arguments: none (pops 0 bytes) for getgamewinx,
//                           getgamewinwidth, getgamehwnd and getgametitle, two
//                           (pops 8) for the others, which also overwrite
//                           both argument slots, as a callee may
#include <windows.h>

#include "dovemarl/plugin_contract.h"
#include "query_fault_double.h"
#include "query_log.h"

namespace {

HANDLE Mapping = nullptr;
query_double::Log* SharedLog = nullptr;
char* Unreadable = nullptr;
char* Huge = nullptr;
// Used by the slow-query build only.
[[maybe_unused]] volatile LONG WinXCalls = 0;

void LogCall(const char* name, const dovemarl::GameInfo* argument) {
    if (SharedLog == nullptr) {
        return;
    }
    long index = InterlockedIncrement(&SharedLog->calls) - 1;
    if (index < query_double::MaxCalls) {
        query_double::Call& call = SharedLog->entries[index];
        lstrcpynA(call.name, name, sizeof call.name);
        call.argument = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(argument));
    }
}

// The argument slots belong to the callee, which may use them as scratch.
// Volatile stores, so that no compiler drops them as stores to dead memory.
[[maybe_unused]] __attribute__((noinline)) void ScribbleOver(volatile uint32_t* first,
                                                             volatile uint32_t* second) {
    *first = 0xDEADBEEF;
    *second = 0xDEADBEEF;
}

[[maybe_unused]] void BlockOnFirstCall() {
#ifdef FAULT_SLOW_QUERY
    if (InterlockedIncrement(&WinXCalls) != 1) {
        return;
    }
    HANDLE entered = OpenEventA(EVENT_MODIFY_STATE, FALSE, query_fault::SlowQueryEntered);
    HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, query_fault::SlowQueryRelease);
    if (entered != nullptr) {
        SetEvent(entered);
        CloseHandle(entered);
    }
    if (release != nullptr) {
        WaitForSingleObject(release, query_fault::SlowQueryLimitMs);
        CloseHandle(release);
    } else {
        Sleep(query_fault::SlowQueryLimitMs);
    }
#endif
}

const char* Title() {
#if defined(FAULT_ZERO_TITLE)
    return nullptr;
#elif defined(FAULT_UNREADABLE_TITLE)
    return Unreadable;
#elif defined(FAULT_HUGE_TITLE)
    return Huge;
#else
    return query_double::Title;
#endif
}

} // namespace

#if defined(FAULT_CDECL_QUERY)
#define QUERY(name, answer)                                                                        \
    extern "C" __declspec(dllexport) int32_t __cdecl name(const dovemarl::GameInfo* info) {        \
        LogCall(#name, info);                                                                      \
        return static_cast<int32_t>(answer);                                                       \
    }
#define QUERY_NO_ARGUMENT QUERY
#define QUERY_TWO_ARGUMENTS QUERY
#elif defined(FAULT_WRONG_ARITY_QUERY)
#define QUERY_NO_ARGUMENT(name, answer)                                                            \
    extern "C" __declspec(dllexport) int32_t __stdcall name() {                                    \
        LogCall(#name, nullptr);                                                                   \
        return static_cast<int32_t>(answer);                                                       \
    }
#define QUERY_TWO_ARGUMENTS(name, answer)                                                          \
    extern "C" __declspec(dllexport) int32_t __stdcall name(uint32_t info, uint32_t extra) {       \
        LogCall(#name, reinterpret_cast<const dovemarl::GameInfo*>(info));                         \
        ScribbleOver(&info, &extra);                                                               \
        return static_cast<int32_t>(answer);                                                       \
    }
#else
#define QUERY(name, answer)                                                                        \
    extern "C" __declspec(dllexport) int32_t __stdcall name(const dovemarl::GameInfo* info) {      \
        LogCall(#name, info);                                                                      \
        return static_cast<int32_t>(answer);                                                       \
    }
#define QUERY_NO_ARGUMENT QUERY
#define QUERY_TWO_ARGUMENTS QUERY
#endif

#if defined(FAULT_CDECL_QUERY) || defined(FAULT_WRONG_ARITY_QUERY)
QUERY_NO_ARGUMENT(getgamewinx, query_double::WinX)
#else
extern "C" __declspec(dllexport) int32_t __stdcall getgamewinx(const dovemarl::GameInfo* info) {
    LogCall("getgamewinx", info);
    BlockOnFirstCall();
    return query_double::WinX;
}
#endif
QUERY_TWO_ARGUMENTS(getgamewiny, query_double::WinY)
QUERY_NO_ARGUMENT(getgamewinwidth, query_double::WinWidth)
QUERY_TWO_ARGUMENTS(getgamewinheight, query_double::WinHeight)
QUERY_NO_ARGUMENT(getgamehwnd, query_double::Hwnd)
QUERY_TWO_ARGUMENTS(getgamepid, query_double::Pid)
QUERY_NO_ARGUMENT(getgametitle, reinterpret_cast<uintptr_t>(Title()))

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        Mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, query_double::LogName);
        if (Mapping != nullptr) {
            SharedLog = static_cast<query_double::Log*>(
                MapViewOfFile(Mapping, FILE_MAP_WRITE, 0, 0, sizeof(query_double::Log)));
        }
        if (SharedLog != nullptr) {
            InterlockedIncrement(&SharedLog->loads);
        }
#if defined(FAULT_UNREADABLE_TITLE)
        // Reserved address space: any read of it faults.
        Unreadable = static_cast<char*>(
            VirtualAlloc(nullptr, query_fault::HugeTitleBytes, MEM_RESERVE, PAGE_NOACCESS));
#elif defined(FAULT_HUGE_TITLE)
        Huge = static_cast<char*>(VirtualAlloc(nullptr, query_fault::HugeTitleBytes + 1,
                                               MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (Huge != nullptr) {
            for (size_t i = 0; i < query_fault::HugeTitleBytes; ++i) {
                Huge[i] = static_cast<char>('a' + i % 26);
            }
        }
#endif
#ifdef FAULT_REFUSES_LOAD
        return FALSE; // the system then detaches and unloads the library at once
#endif
    } else if (reason == DLL_PROCESS_DETACH) {
        if (SharedLog != nullptr) {
            InterlockedIncrement(&SharedLog->frees);
            UnmapViewOfFile(SharedLog);
        }
        if (Mapping != nullptr) {
            CloseHandle(Mapping);
        }
        if (Unreadable != nullptr) {
            VirtualFree(Unreadable, 0, MEM_RELEASE);
        }
        if (Huge != nullptr) {
            VirtualFree(Huge, 0, MEM_RELEASE);
        }
    }
    return TRUE;
}
