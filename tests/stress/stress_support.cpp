#include <cstdio>

#include "stress/stress_support.h"

#include <tlhelp32.h>

#include <algorithm>

namespace stress {

Counts Now() {
    return {testing_support::CountOpenHandles(), testing_support::CountWindows(),
            testing_support::CountThreads()};
}

std::string Compare(const Counts& before, const Counts& after) {
    return "handles " + std::to_string(before.handles) + " -> " + std::to_string(after.handles) +
           ", windows " + std::to_string(before.windows) + " -> " + std::to_string(after.windows) +
           ", threads " + std::to_string(before.threads) + " -> " + std::to_string(after.threads);
}

std::vector<HANDLE> ProcessHeapList() {
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
    return heaps;
}

ModuleHeaps::ModuleHeaps(const std::vector<HANDLE>& beforeLoad,
                         const std::vector<HANDLE>& afterLoad) {
    for (HANDLE heap : afterLoad) {
        if (std::find(beforeLoad.begin(), beforeLoad.end(), heap) == beforeLoad.end()) {
            heaps_.push_back(heap);
        }
    }
}

testing_support::HeapUsage ModuleHeaps::Usage() const {
    testing_support::HeapUsage total;
    for (HANDLE heap : heaps_) {
        testing_support::HeapUsage usage = testing_support::UsageOf(heap);
        total.blocks += usage.blocks;
        total.bytes += usage.bytes;
    }
    return total;
}

int ThreadsExecutingIn(const void* base, size_t size) {
    auto low = reinterpret_cast<uintptr_t>(base);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int inside = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId() ||
            entry.th32ThreadID == GetCurrentThreadId()) {
            continue;
        }
        HANDLE thread =
            OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, entry.th32ThreadID);
        if (thread == nullptr) {
            continue; // ended meanwhile
        }
        if (SuspendThread(thread) != static_cast<DWORD>(-1)) {
            CONTEXT context = {};
            context.ContextFlags = CONTEXT_CONTROL;
            if (GetThreadContext(thread, &context) && context.Eip >= low &&
                context.Eip - low < size) {
                ++inside;
            }
            ResumeThread(thread);
        }
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return inside;
}

namespace {
using QueryThread = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
constexpr int ThreadStartAddressClass = 9; // ThreadQuerySetWin32StartAddress

struct ThreadFacts {
    DWORD id;
    void* start;  // null when it cannot be read
    bool running; // false once it has ended, though it may still be listed
};

// Calls visit for each thread of this process; false if they cannot be listed.
template <typename Visit> bool ForEachThread(Visit visit) {
    auto query = reinterpret_cast<QueryThread>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (query == nullptr || snapshot == INVALID_HANDLE_VALUE) {
        return false;
    }
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != GetCurrentProcessId()) {
            continue;
        }
        ThreadFacts facts = {entry.th32ThreadID, nullptr, false};
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        if (thread != nullptr) {
            DWORD code = 0;
            if (query(thread, ThreadStartAddressClass, &facts.start, sizeof facts.start, nullptr) !=
                0) {
                facts.start = nullptr;
            }
            facts.running = GetExitCodeThread(thread, &code) && code == STILL_ACTIVE;
            CloseHandle(thread);
        }
        visit(facts);
    }
    CloseHandle(snapshot);
    return true;
}
} // namespace

std::string DescribeThreads() {
    std::string lines;
    bool listed = ForEachThread([&](const ThreadFacts& facts) {
        char module[MAX_PATH] = "?";
        HMODULE owner = nullptr;
        if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                   GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               static_cast<const char*>(facts.start), &owner)) {
            GetModuleFileNameA(owner, module, sizeof module);
        }
        char line[MAX_PATH + 64];
        std::snprintf(line, sizeof line, "thread %lu: start %p in %s, %s\n", facts.id, facts.start,
                      module, facts.running ? "running" : "ended");
        lines += line;
    });
    return listed ? lines : "threads cannot be listed";
}

int ThreadsStartedIn(const void* base, size_t size) {
    auto low = reinterpret_cast<uintptr_t>(base);
    int started = 0;
    bool listed = ForEachThread([&](const ThreadFacts& facts) {
        started += facts.start != nullptr && facts.running &&
                   reinterpret_cast<uintptr_t>(facts.start) - low < size;
    });
    return listed ? started : -1;
}

size_t ImageSize(HMODULE module) {
    auto* bytes = reinterpret_cast<const BYTE*>(module);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(bytes + dos->e_lfanew);
    return nt->OptionalHeader.SizeOfImage;
}

std::string TextOf(HWND window, int capacity) {
    std::vector<WCHAR> wide(static_cast<size_t>(capacity));
    int length = InternalGetWindowText(window, wide.data(), static_cast<int>(wide.size()));
    if (length <= 0) {
        return {};
    }
    int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), length, text.data(), bytes, nullptr, nullptr);
    return text;
}

namespace {
BOOL CALLBACK CollectChild(HWND child, LPARAM children) {
    reinterpret_cast<std::vector<HWND>*>(children)->push_back(child);
    return TRUE;
}
} // namespace

std::vector<std::string> ChildTexts(HWND window) {
    std::vector<HWND> children;
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
    std::vector<std::string> texts;
    for (HWND child : children) {
        texts.push_back(TextOf(child));
    }
    return texts;
}

HostThread::HostThread(Body body, void* argument) : body_(body), argument_(argument) {
    thread_ = CreateThread(nullptr, 0, Run, this, 0, &id_);
}

HostThread::~HostThread() {
    if (thread_ != nullptr) {
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
    }
}

bool HostThread::Join(DWORD timeoutMs) {
    return WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0;
}

DWORD WINAPI HostThread::Run(void* self) {
    auto* thread = static_cast<HostThread*>(self);
    thread->body_(thread->argument_);
    return 0;
}

} // namespace stress
