#include "plugin_exports.h"

#include <cctype>

#include "dovemarl/plugin_contract.h"

namespace standin {

namespace {

const BYTE* At(HMODULE module, DWORD rva) {
    return reinterpret_cast<const BYTE*>(module) + rva;
}

// The name without a leading underscore and a trailing "@digits", the two
// decorations a compiler adds to stdcall names.
std::string Undecorated(const std::string& name) {
    size_t begin = !name.empty() && name[0] == '_' ? 1 : 0;
    size_t end = name.size();
    size_t at = name.rfind('@');
    if (at != std::string::npos && at + 1 < name.size() && at >= begin) {
        bool digits = true;
        for (size_t i = at + 1; i < name.size(); ++i) {
            digits = digits && std::isdigit(static_cast<unsigned char>(name[i]));
        }
        if (digits) {
            end = at;
        }
    }
    return name.substr(begin, end - begin);
}

const void* FindOne(const std::vector<ExportEntry>& exports, const char* name, uint16_t ordinal,
                    ContractReport& report) {
    const ExportEntry* exact = nullptr;
    const ExportEntry* decorated = nullptr;
    for (const ExportEntry& entry : exports) {
        if (entry.name == name) {
            exact = &entry;
        } else if (decorated == nullptr && Undecorated(entry.name) == name) {
            decorated = &entry;
        }
    }
    const ExportEntry* found = exact != nullptr ? exact : decorated;
    if (found == nullptr) {
        report.Fault(std::string("missing export ") + name);
        return nullptr;
    }
    if (found == decorated) {
        report.Fault("decorated export " + decorated->name + " instead of " + name);
    }
    if (found->ordinal != ordinal) {
        report.Fault(found->name + " has ordinal " + std::to_string(found->ordinal) + ", must be " +
                     std::to_string(ordinal));
    }
    return found->address;
}

} // namespace

std::vector<ExportEntry> ReadExports(HMODULE module) {
    std::vector<ExportEntry> exports;
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(module);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(At(module, dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (directory.VirtualAddress == 0) {
        return exports;
    }
    auto* table =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(At(module, directory.VirtualAddress));
    auto* names = reinterpret_cast<const DWORD*>(At(module, table->AddressOfNames));
    auto* indexes = reinterpret_cast<const WORD*>(At(module, table->AddressOfNameOrdinals));
    auto* functions = reinterpret_cast<const DWORD*>(At(module, table->AddressOfFunctions));
    for (DWORD i = 0; i < table->NumberOfNames; ++i) {
        ExportEntry entry;
        entry.name = reinterpret_cast<const char*>(At(module, names[i]));
        entry.ordinal = static_cast<uint16_t>(table->Base + indexes[i]);
        entry.address = At(module, functions[indexes[i]]);
        exports.push_back(std::move(entry));
    }
    return exports;
}

PluginExports FindPluginExports(HMODULE module, ContractReport& report) {
    std::vector<ExportEntry> exports = ReadExports(module);
    PluginExports found;
    found.load = FindOne(exports, dovemarl::PluginLoadName, dovemarl::PluginLoadOrdinal, report);
    found.run = FindOne(exports, dovemarl::PluginRunName, dovemarl::PluginRunOrdinal, report);
    found.unload =
        FindOne(exports, dovemarl::PluginUnloadName, dovemarl::PluginUnloadOrdinal, report);
    return found;
}

} // namespace standin
