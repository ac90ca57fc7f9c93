#include "thread_stacks.h"

#include <algorithm>

#include "call_sites.h"

namespace standin {

namespace {

constexpr SIZE_T LongestStackRead = 1024 * 1024;
constexpr DWORD PageBytes = 4096;

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
    ThreadEntry entry = DescribeThread(threadId);
    const char* base = entry.stackBase;
    const char* pointer = entry.stackPointer;
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
