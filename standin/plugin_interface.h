#pragma once
// The plug-in as a host sees it: the record it passes (the module's own
// declaration, so host and plug-in cannot disagree on the layout) and the
// stdcall exports it finds by name.
#include <windows.h>

#include <cstdint>

#include "host/game_info.h"

namespace standin {

using GameInfo = dovemarl::host::GameInfo;
using PluginCall = int32_t(__stdcall*)(int32_t);
using PluginRun = int32_t(__stdcall*)(GameInfo*);

template <typename Function> Function Export(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace standin
