#include "thread_stacks.h"

#include <algorithm>

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

// The longest call instruction that can end at a return address.
constexpr long LongestCall = 7;

// Whether the bytes just before next end with a call instruction: call rel32
// (E8), or an indirect call, FF with a ModRM byte whose reg field is 2, whose
// mod and r/m fields say how many bytes follow (an index byte when r/m is 4,
// a 32-bit address alone when mod is 0 and r/m is 5).
bool EndsWithCall(const unsigned char* next) {
    auto indirect = [next](long length, unsigned mod, bool index) {
        unsigned char modrm = next[-length + 1];
        unsigned rm = modrm & 7u;
        return next[-length] == 0xFF && ((modrm >> 3) & 7u) == 2 && (modrm >> 6) == mod &&
               (rm == 4) == index && (mod != 0 || rm != 5 || length == 6);
    };
    return next[-5] == 0xE8 ||                               // call rel32
           indirect(2, 0, false) || indirect(2, 3, false) || // call [reg], call reg
           indirect(3, 0, true) || indirect(3, 1, false) ||  // [base+index], [reg+d8]
           indirect(4, 1, true) || indirect(6, 0, false) ||  // [b+i+d8], [disp32]
           indirect(6, 2, false) || indirect(7, 2, true);    // [reg+d32], [b+i+d32]
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

bool FollowsCallInMemory(const void* address) {
    unsigned char before[LongestCall];
    const char* at = static_cast<const char*>(address);
    return ReadProcessMemory(GetCurrentProcess(), at - LongestCall, before, sizeof before,
                             nullptr) &&
           EndsWithCall(before + LongestCall);
}

bool FindReturnInto(DWORD threadId, const SavedImage& image, StackReturn* found) {
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
