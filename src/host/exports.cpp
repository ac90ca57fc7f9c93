#include "host/exports.h"

#include <windows.h>

#include "run/run_sequence.h"
#include "ui/message_box.h"

namespace {
constexpr const char* PluginTitle = "Dovemarl";
constexpr const char* GreetingText = "Hello from Dovemarl!\r\nThis is the plugin load function.";
constexpr const char* FarewellText =
    "Goodbye from Dovemarl!\r\nThis is the plugin unload function.";
} // namespace

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
