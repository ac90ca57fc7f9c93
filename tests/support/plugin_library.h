#pragma once
// Loads the built Dovemarl.dll into the test process and finds its exports,
// as a host does.
#include <windows.h>

#include <cstdint>

#include "host_record.h"

namespace testing_support {

using standin::GameInfo;

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
