#include "import_closure.h"

#include "dll_risks.h"

namespace standin {

namespace {

std::string FileNameOf(HMODULE module) {
    char path[MAX_PATH] = "";
    if (GetModuleFileNameA(module, path, MAX_PATH) == 0) {
        return {};
    }
    return BaseName(path);
}

// Names the loader brings in with module: its imports, then the targets of
// its forwarded exports.
std::vector<std::string> Brought(HMODULE module) {
    std::vector<std::string> names = ImportedNames(module);
    for (const std::string& name : ForwardedNames(module)) {
        names.push_back(name);
    }
    return names;
}

} // namespace

std::string ModuleKey(const std::string& name) {
    std::string key = Lowercase(BaseName(name));
    if (key.find('.') == std::string::npos) {
        key += ".dll";
    }
    return key;
}

bool ImportClosure::Contains(const std::string& name) const {
    return keys.contains(ModuleKey(name));
}

std::vector<std::string> ForwardedNames(HMODULE module) {
    std::vector<std::string> names;
    const IMAGE_DATA_DIRECTORY* found = ImageDirectory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (found == nullptr) {
        return names;
    }
    const IMAGE_DATA_DIRECTORY& directory = *found;
    auto* base = reinterpret_cast<const char*>(module);
    auto* exports =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
    auto* functions = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
    std::set<std::string> seen;
    for (DWORD i = 0; i < exports->NumberOfFunctions; ++i) {
        // An export whose address lies inside the export directory is a
        // forwarder: the text "DLL.function" or "DLL.#ordinal".
        DWORD address = functions[i];
        if (address < directory.VirtualAddress ||
            address >= directory.VirtualAddress + directory.Size) {
            continue;
        }
        std::string forwarder = base + address;
        size_t dot = forwarder.rfind('.');
        if (dot == std::string::npos || dot == 0) {
            continue;
        }
        std::string name = forwarder.substr(0, dot);
        if (seen.insert(ModuleKey(name)).second) {
            names.push_back(name);
        }
    }
    return names;
}

ImportClosure WalkImports(HMODULE module) {
    ImportClosure closure;
    std::set<std::string> queued;
    for (const std::string& name : ImportedNames(module)) {
        if (queued.insert(ModuleKey(name)).second) {
            closure.reached.push_back({name, name, true});
        }
    }
    for (size_t i = 0; i < closure.reached.size(); ++i) {
        ReachedDll reached = closure.reached[i];
        HMODULE loaded = GetModuleHandleA(reached.name.c_str());
        if (loaded == nullptr) {
            continue; // not loaded: nothing of it came with the load
        }
        std::string file = FileNameOf(loaded);
        if (!file.empty()) {
            closure.keys.insert(ModuleKey(file));
        }
        for (const std::string& name : Brought(loaded)) {
            if (queued.insert(ModuleKey(name)).second) {
                closure.reached.push_back({name, reached.way + " -> " + name, false});
            }
        }
    }
    closure.keys.insert(queued.begin(), queued.end());
    return closure;
}

} // namespace standin
