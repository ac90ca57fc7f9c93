#pragma once
// The DLLs a loaded image brings in by the loader's own work: its imports,
// their imports, and so on, each reached with the way it came; a forwarded
// export brings its target in the same way. Whatever else is loaded with it
// was loaded by code, an entry point's.
#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace standin {

struct ReachedDll {
    std::string name; // as the import table or the forwarder writes it
    std::string way;  // "a.dll -> b.dll"; the name alone for a direct import
    bool direct = false;
};

struct ImportClosure {
    std::vector<ReachedDll> reached; // breadth first, each name once
    // Keys (see ModuleKey) of every name reached and of the file each
    // loaded one resolved to (an API set or a redirected name is another
    // file's).
    std::set<std::string> keys;
    bool Contains(const std::string& name) const;
};

// Follows the import tables and forwarders of the modules loaded now; a name
// that is not loaded is kept but not followed.
ImportClosure WalkImports(HMODULE module);

// The DLL names a loaded image's exports are forwarded to.
std::vector<std::string> ForwardedNames(HMODULE module);

// A DLL name as the loader compares it: file name alone, lower case, ".dll"
// added when it has no extension.
std::string ModuleKey(const std::string& name);

} // namespace standin
