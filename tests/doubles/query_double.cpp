// Test doubles of the host's query library, built as sableroot.dll in two
// variants: the full one answers all seven queries with fixed values; the
// partial one (PARTIAL_QUERY_LIBRARY) lacks some exports and answers the
// title query with 0. Both log every load, free and call (see query_log.h).
#include <windows.h>

#include <cstring>

#include "dovemarl/plugin_contract.h"
#include "query_log.h"

namespace {

HANDLE Mapping = nullptr;
query_double::Log* SharedLog = nullptr;

template <typename T> T Logged(const char* name, const dovemarl::GameInfo* argument, T answer) {
    if (SharedLog != nullptr) {
        long index = InterlockedIncrement(&SharedLog->calls) - 1;
        if (index < query_double::MaxCalls) {
            query_double::Call& call = SharedLog->entries[index];
            std::strncpy(call.name, name, sizeof call.name - 1);
            call.argument = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(argument));
        }
    }
    return answer;
}

} // namespace

#define QUERY(type, name, answer)                                                                  \
    extern "C" __declspec(dllexport) type __stdcall name(const dovemarl::GameInfo* info) {         \
        return Logged<type>(#name, info, answer);                                                  \
    }

QUERY(int32_t, getgamewinx, query_double::WinX)
QUERY(int32_t, getgamewinheight, query_double::WinHeight)
QUERY(int32_t, getgamepid, query_double::Pid)
#ifdef PARTIAL_QUERY_LIBRARY
QUERY(const char*, getgametitle, nullptr)
#else
QUERY(int32_t, getgamewiny, query_double::WinY)
QUERY(int32_t, getgamewinwidth, query_double::WinWidth)
QUERY(int32_t, getgamehwnd, static_cast<int32_t>(query_double::Hwnd))
QUERY(const char*, getgametitle, query_double::Title)
#endif

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
    } else if (reason == DLL_PROCESS_DETACH) {
        if (SharedLog != nullptr) {
            InterlockedIncrement(&SharedLog->frees);
            UnmapViewOfFile(SharedLog);
        }
        if (Mapping != nullptr) {
            CloseHandle(Mapping);
        }
    }
    return TRUE;
}
