#pragma once
// What the stress and fault tests share: resource counts with their figures,
// the module's own heaps, threads caught inside a module's code, and the
// texts a monitor window shows.
#include <windows.h>

#include <string>
#include <vector>

#include "support/resources.h"

namespace stress {

struct Counts {
    int handles = 0;
    int windows = 0;
    int threads = 0;
};
Counts Now();
// "handles 120 -> 121, windows 3 -> 3, threads 5 -> 5"
std::string Compare(const Counts& before, const Counts& after);

std::vector<HANDLE> ProcessHeapList();

// The heaps a module made at load: those that exist after the load and did not
// before it.
class ModuleHeaps {
  public:
    ModuleHeaps(const std::vector<HANDLE>& beforeLoad, const std::vector<HANDLE>& afterLoad);
    testing_support::HeapUsage Usage() const;
    size_t Count() const { return heaps_.size(); }
    std::vector<HANDLE> heaps_;

  private:
};

// Threads of this process other than the caller whose instruction pointer
// lies in [base, base + size): each is suspended for a moment to read it.
// Live threads of this process that were started at an address in that range.
int ThreadsStartedIn(const void* base, size_t size);
int ThreadsExecutingIn(const void* base, size_t size);
size_t ImageSize(HMODULE module);

// Window texts read without sending anything to the window's thread.
std::string TextOf(HWND window, int capacity = 512);
std::vector<std::string> ChildTexts(HWND window);

// Runs a procedure on a thread of its own; Join waits at most timeoutMs.
class HostThread {
  public:
    using Body = void (*)(void* argument);
    HostThread(Body body, void* argument);
    ~HostThread();
    HostThread(const HostThread&) = delete;
    HostThread& operator=(const HostThread&) = delete;
    bool Join(DWORD timeoutMs);
    HANDLE Handle() const { return thread_; }
    DWORD Id() const { return id_; }

  private:
    static DWORD WINAPI Run(void* self);
    Body body_;
    void* argument_;
    HANDLE thread_ = nullptr;
    DWORD id_ = 0;
};

} // namespace stress
