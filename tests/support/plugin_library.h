#pragma once
// Loads the built Dovemarl.dll into the test process and finds its exports,
// as a host does.
#include <windows.h>

#include <cstdint>

namespace testing_support {

struct GameInfo { // the host's view of the 32-byte record
    int32_t pid;
    int32_t winx;
    int32_t winy;
    int32_t winwidth;
    int32_t winheight;
    uint32_t hwnd;
    const char* newtitle;
    const char* title;
};
static_assert(sizeof(GameInfo) == 32);

using PluginCall = int32_t(__stdcall*)(int32_t);
using PluginRun = int32_t(__stdcall*)(GameInfo*);

template <typename Function> Function Export(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class PluginLibrary {
  public:
    PluginLibrary();
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    bool Loaded() const { return module_ != nullptr; }
    HMODULE Module() const { return module_; }
    // Unloads now; the destructor then does nothing.
    void Unload();

    PluginCall load = nullptr;
    PluginRun run = nullptr;
    PluginCall unload = nullptr;

  private:
    HMODULE module_ = nullptr;
};

} // namespace testing_support
