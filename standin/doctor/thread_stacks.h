#pragma once
// Return addresses into an image on the stacks of the process's threads. A
// thread started through a runtime (whose start address lies in the runtime)
// and blocked in a wait (its current instruction in the system) shows nothing
// of a plug-in by its start or instruction, but the plug-in's frame that made
// the call waits on its stack for the call to return: into code that is gone,
// once the plug-in is unloaded.
#include <windows.h>

#include <vector>

#include "resource_census.h"

namespace standin {

// A copy of a loaded image's bytes, taken before the unload, to tell a return
// address (the instruction before it is a call) from a value that only lies
// in the image's range.
struct SavedImage {
    ImageRange range;
    std::vector<unsigned char> bytes; // unreadable pages read as zeros
};
SavedImage SaveImage(const ImageRange& range);

struct StackReturn {
    const void* slot = nullptr;    // where on the stack
    const void* address = nullptr; // the return address in the image
};

// The innermost return address into image on another thread's stack, found
// between its stack pointer and its stack's base; false when there is none
// (and for the calling thread).
bool FindReturnInto(DWORD threadId, const SavedImage& image, StackReturn* found);

// Whether the bytes of image just before address end with a call instruction.
bool FollowsCall(const SavedImage& image, const void* address);

} // namespace standin
