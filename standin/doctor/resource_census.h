#pragma once
// Counts what a process holds, the way it can be counted under Wine too:
// handles by probing the handle table (GetProcessHandleCount answers 0 there),
// threads and modules through Toolhelp snapshots, windows by enumeration
// (top-level ones with EnumWindows, message-only ones with FindWindowEx under
// HWND_MESSAGE, which EnumWindows does not list).
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace standin {

struct ModuleEntry {
    std::string name; // file name alone, as the loader knows it
    std::string path;
    const char* base = nullptr;
    DWORD size = 0;
};

struct ThreadEntry {
    DWORD id = 0;
    const void* start = nullptr;        // where the thread began, null if unknown
    const void* instruction = nullptr;  // where it is now, null if unknown
    const char* stackPointer = nullptr; // null if unknown
    const char* stackBase = nullptr;    // where its stack ends (it grows down from there)
};

struct WindowEntry {
    HWND window = nullptr;
    bool messageOnly = false;
    DWORD threadId = 0;
    std::string className;
    HINSTANCE classInstance = nullptr;
    const void* procedure = nullptr;      // the window's own (top of its subclass chain)
    const void* classProcedure = nullptr; // the class's
};

struct Census {
    int handles = 0;
    std::map<std::string, int> handleKinds; // by the kind of object: "Event", "Thread"

    int threads = 0;
    int topWindows = 0;
    int messageWindows = 0;
    int modules = 0;
    // From the system's pools (see pooled_resources.h).
    int committedKiB = 0;
    int heaps = 0;
    int tlsSlot = 0; // the first free one
    int flsSlot = 0;
    int atoms = 0;
    int gdiObjects = 0;
};

// Valid handle values of this process, found by asking for each one's flags.
int CountHandles();
std::vector<HANDLE> OpenHandles();
// The kind of object a handle is open to ("Event"), as the system names it.
std::string HandleKind(HANDLE handle);
std::vector<DWORD> ThreadIds();
std::vector<ModuleEntry> Modules();
// Every window of this process: top-level, message-only and their children.
std::vector<WindowEntry> Windows();
Census TakeCensus();

// Where a thread of this process began (GetCurrentThread() for this one).
const void* ThreadStart(HANDLE thread);

// The full path of the loaded module whose image holds address, or empty.
std::string ModulePathAt(const void* address);

// Start address, current instruction and stack of another thread of this process;
// the thread is suspended for the moment it takes to read its context.
ThreadEntry DescribeThread(DWORD threadId);

// The range of a loaded image, from its headers.
struct ImageRange {
    const char* base = nullptr;
    DWORD size = 0;
    bool Contains(const void* address) const {
        auto* at = static_cast<const char*>(address);
        return base != nullptr && at >= base && at < base + size;
    }
};
ImageRange RangeOf(HMODULE module);

} // namespace standin
