#pragma once
// Loads the built Dovemarl.dll into the test process and finds its exports,
// as a host does.
#include <windows.h>

#include <cstdint>

#include "plugin_interface.h"

namespace testing_support {

using standin::Export;
using standin::GameInfo;
using standin::PluginCall;
using standin::PluginRun;

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
