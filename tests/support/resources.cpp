#include "support/resources.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>

#include "doctor/dll_risks.h"
#include "doctor/resource_census.h"

namespace testing_support {

namespace {
constexpr UINT_PTR LastProbedHandle = 0x10000;
constexpr UINT_PTR HandleStep = 4; // handle values are multiples of 4
} // namespace

int CountOpenHandles() {
    int count = 0;
    for (UINT_PTR value = HandleStep; value < LastProbedHandle; value += HandleStep) {
        DWORD flags = 0;
        count += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != FALSE;
    }
    return count;
}

std::string DescribeHandlesNotIn(const std::vector<HANDLE>& before) {
    std::string text;
    for (HANDLE handle : standin::OpenHandles()) {
        if (std::find(before.begin(), before.end(), handle) == before.end()) {
            char value[16];
            std::snprintf(value, sizeof value, "%#x",
                          static_cast<unsigned>(reinterpret_cast<UINT_PTR>(handle)));
            text +=
                (text.empty() ? "" : ", ") + std::string(value) + " " + standin::HandleKind(handle);
        }
    }
    return text.empty() ? "none new" : text;
}

namespace {
BOOL CALLBACK CountOwnWindow(HWND window, LPARAM count) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    *reinterpret_cast<int*>(count) += processId == GetCurrentProcessId();
    return TRUE;
}
} // namespace

int CountWindows() {
    int count = 0;
    EnumWindows(CountOwnWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

int CountThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    }
    CloseHandle(snapshot);
    return count;
}

std::vector<DWORD> RunningThreadsStartedIn(HMODULE module) {
    std::vector<DWORD> found;
    standin::ImageRange image = standin::RangeOf(module);
    for (DWORD id : standin::ThreadIds()) {
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
        if (thread == nullptr) {
            continue;
        }
        DWORD code = 0;
        if (image.Contains(standin::ThreadStart(thread)) && GetExitCodeThread(thread, &code) &&
            code == STILL_ACTIVE) {
            found.push_back(id);
        }
        CloseHandle(thread);
    }
    return found;
}

std::vector<std::string> LoadedModules() {
    std::vector<std::string> paths;
    for (const standin::ModuleEntry& module : standin::Modules()) {
        paths.push_back(standin::Lowercase(module.path));
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

namespace {

bool DirectlyIn(const std::string& path, const char* folder, UINT length) {
    std::string prefix = standin::Lowercase(std::string(folder, length)) + "\\";
    return length != 0 && path.compare(0, prefix.size(), prefix) == 0 &&
           path.find('\\', prefix.size()) == std::string::npos;
}

} // namespace

bool InSystemFolder(const std::string& path) {
    char folder[MAX_PATH] = "";
    if (DirectlyIn(path, folder, GetSystemDirectoryA(folder, MAX_PATH))) {
        return true;
    }
    // A 32-bit program under WoW64 asks for system32 and is given SysWOW64.
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 &&
           DirectlyIn(path, folder, GetSystemWow64DirectoryA(folder, MAX_PATH));
}

HeapUsage UsageOf(HANDLE heap) {
    HeapUsage usage;
    if (heap == nullptr) {
        return usage;
    }
    HeapLock(heap);
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap, &entry)) {
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
            ++usage.blocks;
            usage.bytes += entry.cbData;
        }
    }
    HeapUnlock(heap);
    return usage;
}

PrivateMemory MeasurePrivateMemory() {
    PrivateMemory memory;
    SYSTEM_INFO system = {};
    GetSystemInfo(&system);
    auto* address = static_cast<char*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region = {};
    while (address < system.lpMaximumApplicationAddress &&
           VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.Type == MEM_PRIVATE) {
            memory.addressSpace += region.RegionSize;
            if (region.State == MEM_COMMIT) {
                memory.committed += region.RegionSize;
            }
        }
        address = static_cast<char*>(region.BaseAddress) + region.RegionSize;
    }
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (K32GetProcessMemoryInfo(GetCurrentProcess(),
                                reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                sizeof counters)) {
        memory.reported = counters.PrivateUsage;
    }
    return memory;
}

} // namespace testing_support
