#include "support/plugin_library.h"

namespace testing_support {

PluginLibrary::PluginLibrary() {
    module_ = LoadLibraryA("Dovemarl.dll");
    if (module_ != nullptr) {
        load = Export<PluginCall>(module_, "pluginload");
        run = Export<PluginRun>(module_, "pluginrun");
        unload = Export<PluginCall>(module_, "pluginunload");
    }
}

PluginLibrary::~PluginLibrary() {
    Unload();
}

void PluginLibrary::Unload() {
    if (module_ != nullptr) {
        FreeLibrary(module_);
        module_ = nullptr;
    }
}

} // namespace testing_support
