#include "thread_stacks.h"

#include <algorithm>

#include "call_sites.h"

namespace standin {

namespace {

constexpr ULONG ThreadBasicInformationClass = 0;
constexpr SIZE_T LongestStackRead = 1024 * 1024;
constexpr DWORD PageBytes = 4096;

struct ThreadBasicInformation {
    LONG exitStatus;
    const NT_TIB* teb; // begins with the thread's NT_TIB
    void* clientId[2];
    ULONG_PTR affinity;
    LONG priority;
    LONG basePriority;
};

using QueryThread = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);

// Where a thread's stack ends (its base: the stack grows down from it).
const char* StackBase(HANDLE thread) {
    static auto query = reinterpret_cast<QueryThread>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
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

const char* StackPointer(HANDLE thread) {
    const char* pointer = nullptr;
    if (SuspendThread(thread) != static_cast<DWORD>(-1)) {
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_CONTROL;
        if (GetThreadContext(thread, &context)) {
            pointer = reinterpret_cast<const char*>(static_cast<uintptr_t>(context.Esp));
        }
        ResumeThread(thread);
    }
    return pointer;
}

} // namespace

SavedImage SaveImage(const ImageRange& range) {
    SavedImage image{range, std::vector<unsigned char>(range.size)};
    for (DWORD offset = 0; offset < range.size; offset += PageBytes) {
        DWORD length = std::min<DWORD>(PageBytes, range.size - offset);
        ReadProcessMemory(GetCurrentProcess(), range.base + offset, image.bytes.data() + offset,
                          length, nullptr);
    }
    return image;
}

bool FollowsCall(const SavedImage& image, const void* address) {
    const char* at = static_cast<const char*>(address);
    return image.range.Contains(at) && at - image.range.base >= LongestCall &&
           EndsWithCall(image.bytes.data() + (at - image.range.base));
}

bool FindReturnInto(DWORD threadId, const SavedImage& image, StackReturn* found) {
    if (threadId == GetCurrentThreadId()) {
        return false; // it would suspend itself
    }
    HANDLE thread = OpenThread(
        THREAD_QUERY_INFORMATION | THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, threadId);
    if (thread == nullptr) {
        return false;
    }
    const char* base = StackBase(thread);
    const char* pointer = StackPointer(thread);
    CloseHandle(thread);
    if (base == nullptr || pointer == nullptr || pointer >= base) {
        return false;
    }
    SIZE_T length = std::min<SIZE_T>(static_cast<SIZE_T>(base - pointer), LongestStackRead);
    std::vector<uintptr_t> words(length / sizeof(uintptr_t));
    SIZE_T read = 0;
    ReadProcessMemory(GetCurrentProcess(), pointer, words.data(), words.size() * sizeof(uintptr_t),
                      &read);
    for (size_t i = 0; i < read / sizeof(uintptr_t); ++i) {
        auto* value = reinterpret_cast<const void*>(words[i]);
        if (FollowsCall(image, value)) {
            found->slot = pointer + i * sizeof(uintptr_t);
            found->address = value;
            return true;
        }
    }
    return false;
}

} // namespace standin
