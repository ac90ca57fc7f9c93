#include "host/exports.h"

#include <windows.h>

#include <type_traits>

#include "run/run_sequence.h"
#include "ui/message_box.h"

namespace {
constexpr const char* PluginTitle = "Dovemarl";
constexpr const char* GreetingText = "Hello from Dovemarl!\r\nThis is the plugin load function.";
constexpr const char* FarewellText =
    "Goodbye from Dovemarl!\r\nThis is the plugin unload function.";
} // namespace

// The exports have exactly the signatures a host calls them through.
static_assert(std::is_same_v<decltype(&pluginload), dovemarl::PluginLoadFunction>);
static_assert(std::is_same_v<decltype(&pluginrun), dovemarl::PluginRunFunction>);
static_assert(std::is_same_v<decltype(&pluginunload), dovemarl::PluginUnloadFunction>);

extern "C" {

int32_t __stdcall pluginload(int32_t) {
    dovemarl::ui::ShowMessageBox(PluginTitle, GreetingText, MB_OK | MB_ICONINFORMATION);
    return 0;
}

int32_t __stdcall pluginrun(dovemarl::host::GameInfo* info) {
    return dovemarl::run::RunPlugin(info);
}

int32_t __stdcall pluginunload(int32_t) {
    dovemarl::ui::ShowMessageBox(PluginTitle, FarewellText, MB_OK | MB_ICONINFORMATION);
    return 0;
}

} // extern "C"
