#pragma once
// The plug-in as a host sees it: the contract's record and export signatures,
// and a lookup of an export by name.
#include <windows.h>

#include "dovemarl/plugin_contract.h"

namespace standin {

using GameInfo = dovemarl::GameInfo;
using PluginCall = dovemarl::PluginLoadFunction;
using PluginRun = dovemarl::PluginRunFunction;

template <typename Function> Function Export(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace standin
