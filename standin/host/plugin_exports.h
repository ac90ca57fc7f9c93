#pragma once
// Finds a plug-in's three exports in its loaded image and checks their names
// and ordinals against the contract: undecorated names, ordinals 1 to 3.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "contract_report.h"

namespace standin {

struct ExportEntry {
    std::string name;
    uint16_t ordinal = 0;
    const void* address = nullptr;
};

// The named exports of a loaded image, from its export directory.
std::vector<ExportEntry> ReadExports(HMODULE module);

struct PluginExports {
    // Each is the export found for the function: the undecorated name, or
    // failing that a decorated one (already reported), or null.
    const void* load = nullptr;
    const void* run = nullptr;
    const void* unload = nullptr;
};

PluginExports FindPluginExports(HMODULE module, ContractReport& report);

} // namespace standin
