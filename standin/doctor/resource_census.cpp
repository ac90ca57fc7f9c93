#include "resource_census.h"

#include <tlhelp32.h>

#include <cstring>

#include "pooled_resources.h"

namespace standin {

namespace {

// Handle values are multiples of four. The table is probed up to this many
// values past the highest valid one, so a table with gaps is counted whole
// and a growing one keeps being followed.
constexpr uintptr_t HandleStep = 4;
constexpr uintptr_t HandleProbeBeyond = 4096;
constexpr ULONG ThreadStartAddressClass = 9; // ThreadQuerySetWin32StartAddress
constexpr int ClassNameCapacity = 256;

using QueryThread = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);

} // namespace

namespace {

QueryThread ThreadQuery() {
    static auto query = reinterpret_cast<QueryThread>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    return query;
}

constexpr ULONG ThreadBasicInformationClass = 0;

struct ThreadBasicInformation {
    LONG exitStatus;
    const NT_TIB* teb; // begins with the thread's NT_TIB
    void* clientId[2];
    ULONG_PTR affinity;
    LONG priority;
    LONG basePriority;
};

// Where a thread's stack ends, from its TEB.
const char* StackBase(HANDLE thread) {
    QueryThread query = ThreadQuery();
    ThreadBasicInformation information = {};
    NT_TIB tib = {};
    if (query == nullptr ||
        query(thread, ThreadBasicInformationClass, &information, sizeof information, nullptr) !=
            0 ||
        !ReadProcessMemory(GetCurrentProcess(), information.teb, &tib, sizeof tib, nullptr)) {
        return nullptr;
    }
    return static_cast<const char*>(tib.StackBase);
}

} // namespace

const void* ThreadStart(HANDLE thread) {
    QueryThread query = ThreadQuery();
    void* start = nullptr;
    if (query == nullptr ||
        query(thread, ThreadStartAddressClass, &start, sizeof start, nullptr) != 0) {
        return nullptr;
    }
    return start;
}

namespace {

const void* WindowProcedure(HWND window) {
    // Asking with the window's own character set returns the procedure itself
    // rather than a translating stub.
    return reinterpret_cast<const void*>(IsWindowUnicode(window)
                                             ? GetWindowLongPtrW(window, GWLP_WNDPROC)
                                             : GetWindowLongPtrA(window, GWLP_WNDPROC));
}

const void* ClassProcedure(HWND window) {
    return reinterpret_cast<const void*>(IsWindowUnicode(window)
                                             ? GetClassLongPtrW(window, GCLP_WNDPROC)
                                             : GetClassLongPtrA(window, GCLP_WNDPROC));
}

WindowEntry Describe(HWND window, bool messageOnly) {
    WindowEntry entry;
    entry.window = window;
    entry.messageOnly = messageOnly;
    entry.threadId = GetWindowThreadProcessId(window, nullptr);
    char name[ClassNameCapacity] = "";
    GetClassNameA(window, name, ClassNameCapacity);
    entry.className = name;
    entry.classInstance = reinterpret_cast<HINSTANCE>(GetClassLongPtrA(window, GCLP_HMODULE));
    entry.procedure = WindowProcedure(window);
    entry.classProcedure = ClassProcedure(window);
    return entry;
}

bool OfThisProcess(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId == GetCurrentProcessId();
}

struct WindowList {
    std::vector<WindowEntry>* windows;
    bool messageOnly;
};

BOOL CALLBACK AddChild(HWND window, LPARAM argument) {
    auto* list = reinterpret_cast<WindowList*>(argument);
    list->windows->push_back(Describe(window, list->messageOnly));
    return TRUE;
}

void AddWithChildren(HWND window, bool messageOnly, std::vector<WindowEntry>& windows) {
    windows.push_back(Describe(window, messageOnly));
    WindowList list = {&windows, messageOnly};
    EnumChildWindows(window, AddChild, reinterpret_cast<LPARAM>(&list));
}

BOOL CALLBACK AddTopLevel(HWND window, LPARAM argument) {
    if (OfThisProcess(window)) {
        AddWithChildren(window, false, *reinterpret_cast<std::vector<WindowEntry>*>(argument));
    }
    return TRUE;
}

struct TopCount {
    int top = 0;
};

BOOL CALLBACK CountTopLevel(HWND window, LPARAM argument) {
    if (OfThisProcess(window)) {
        ++reinterpret_cast<TopCount*>(argument)->top;
    }
    return TRUE;
}

std::vector<HWND> MessageOnlyWindows() {
    std::vector<HWND> windows;
    for (HWND window = nullptr;
         (window = FindWindowExA(HWND_MESSAGE, window, nullptr, nullptr)) != nullptr;) {
        if (OfThisProcess(window)) {
            windows.push_back(window);
        }
    }
    return windows;
}

} // namespace

std::vector<HANDLE> OpenHandles() {
    std::vector<HANDLE> handles;
    uintptr_t highest = 0;
    for (uintptr_t value = HandleStep; value <= highest + HandleProbeBeyond; value += HandleStep) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            handles.push_back(reinterpret_cast<HANDLE>(value));
            highest = value;
        }
    }
    return handles;
}

int CountHandles() {
    return static_cast<int>(OpenHandles().size());
}

std::string HandleKind(HANDLE handle) {
    // Through ntdll: kernel32 has no call that names an object's kind. The
    // answer begins with the name as a UNICODE_STRING.
    using QueryObject = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
    static auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
    constexpr ULONG ObjectTypeInformation = 2;
    alignas(8) char answer[512] = {};
    if (query == nullptr ||
        query(handle, ObjectTypeInformation, answer, sizeof answer, nullptr) != 0) {
        return "unknown";
    }
    USHORT bytes = 0;
    const wchar_t* name = nullptr;
    std::memcpy(&bytes, answer, sizeof bytes);
    std::memcpy(&name, answer + sizeof(void*), sizeof name);
    std::string kind;
    for (USHORT i = 0; name != nullptr && i < bytes / sizeof(wchar_t); ++i) {
        kind += static_cast<char>(name[i] < 0x80 ? name[i] : '?');
    }
    return kind;
}

std::vector<DWORD> ThreadIds() {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return ids;
    }
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) {
            ids.push_back(entry.th32ThreadID);
        }
    }
    CloseHandle(snapshot);
    return ids;
}

std::vector<ModuleEntry> Modules() {
    std::vector<ModuleEntry> modules;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return modules;
    }
    MODULEENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry)) {
        modules.push_back({entry.szModule, entry.szExePath,
                           reinterpret_cast<const char*>(entry.modBaseAddr), entry.modBaseSize});
    }
    CloseHandle(snapshot);
    return modules;
}

std::vector<WindowEntry> Windows() {
    std::vector<WindowEntry> windows;
    EnumWindows(AddTopLevel, reinterpret_cast<LPARAM>(&windows));
    for (HWND window : MessageOnlyWindows()) {
        AddWithChildren(window, true, windows);
    }
    return windows;
}

Census TakeCensus() {
    Census census;
    // Handles first: the other counts open and close snapshot handles.
    std::vector<HANDLE> handles = OpenHandles();
    census.handles = static_cast<int>(handles.size());
    for (HANDLE handle : handles) {
        ++census.handleKinds[HandleKind(handle)];
    }
    census.threads = static_cast<int>(ThreadIds().size());
    TopCount top;
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&top));
    census.topWindows = top.top;
    census.messageWindows = static_cast<int>(MessageOnlyWindows().size());
    census.modules = static_cast<int>(Modules().size());
    census.committedKiB = CommittedPrivateKiB();
    census.heaps = CountHeaps();
    census.tlsSlot = FirstFreeTlsSlot();
    census.flsSlot = FirstFreeFlsSlot();
    census.atoms = CountGlobalAtoms();
    census.gdiObjects = CountGdiObjects();
    return census;
}

std::string ModulePathAt(const void* address) {
    HMODULE module = nullptr;
    char path[MAX_PATH] = "";
    // A null address is in no module, but the system answers a null name with
    // the program's own module, address flag or not.
    if (address == nullptr ||
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<const char*>(address), &module) ||
        GetModuleFileNameA(module, path, MAX_PATH) == 0) {
        return {};
    }
    return path;
}

ThreadEntry DescribeThread(DWORD threadId) {
    ThreadEntry entry;
    entry.id = threadId;
    HANDLE thread = OpenThread(
        THREAD_QUERY_INFORMATION | THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, threadId);
    if (thread == nullptr) {
        return entry;
    }
    entry.start = ThreadStart(thread);
    entry.stackBase = StackBase(thread);
    if (threadId != GetCurrentThreadId() && SuspendThread(thread) != static_cast<DWORD>(-1)) {
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_CONTROL;
        if (GetThreadContext(thread, &context)) {
            entry.instruction = reinterpret_cast<const void*>(static_cast<uintptr_t>(context.Eip));
            entry.stackPointer = reinterpret_cast<const char*>(static_cast<uintptr_t>(context.Esp));
        }
        ResumeThread(thread);
    }
    CloseHandle(thread);
    return entry;
}

ImageRange RangeOf(HMODULE module) {
    ImageRange range;
    if (module == nullptr) {
        return range;
    }
    auto* base = reinterpret_cast<const char*>(module);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    range.base = base;
    range.size = nt->OptionalHeader.SizeOfImage;
    return range;
}

} // namespace standin
