#include "dll_risks.h"

#include <algorithm>
#include <cctype>

namespace standin {

namespace {

struct Risk {
    const char* name;
    const char* why;
};

// Measured under Wine on the machines this host is tested on; each holds on
// Windows as well, where it is a documented hazard of the loader lock.
constexpr Risk KnownRisks[] = {
    {"comctl32.dll",
     "its attach under the loader lock can hang a host that has not loaded it yet (it opens a "
     "display device context while another thread may be setting up the display); load it on "
     "first use instead"},
    {"ole32.dll",
     "its attach under the loader lock can hang a host that has not loaded it yet; load it on "
     "first use instead"},
    {"winmm.dll",
     "it leaks handles each time it is unloaded (12 under Wine), so every unload of the "
     "plug-in leaks in a host that has not loaded it; load it on first use and pin it"},
};

std::string Folder(std::string path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : Lowercase(path.substr(0, slash));
}

std::string SystemFolder(UINT(WINAPI* get)(LPSTR, UINT)) {
    char path[MAX_PATH] = "";
    UINT length = get(path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? Lowercase(path) : std::string();
}

UINT WINAPI Wow64Folder(LPSTR path, UINT size) {
    return GetSystemWow64DirectoryA(path, size);
}

} // namespace

std::string Lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

const IMAGE_DATA_DIRECTORY* ImageDirectory(HMODULE module, int index) {
    auto* base = reinterpret_cast<const char*>(module);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY* directory = &nt->OptionalHeader.DataDirectory[index];
    return directory->VirtualAddress != 0 ? directory : nullptr;
}

std::vector<std::string> ImportedNames(HMODULE module) {
    std::vector<std::string> names;
    const IMAGE_DATA_DIRECTORY* directory = ImageDirectory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (directory == nullptr) {
        return names;
    }
    auto* base = reinterpret_cast<const char*>(module);
    for (auto* entry =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory->VirtualAddress);
         entry->Name != 0; ++entry) {
        names.emplace_back(base + entry->Name);
    }
    return names;
}

bool InSystemFolder(const std::string& path) {
    std::string folder = Folder(path);
    return !folder.empty() &&
           (folder == SystemFolder(GetSystemDirectoryA) || folder == SystemFolder(Wow64Folder) ||
            folder == SystemFolder(GetWindowsDirectoryA));
}

std::string KnownRisk(const std::string& name) {
    std::string lower = Lowercase(BaseName(name));
    for (const Risk& risk : KnownRisks) {
        if (lower == risk.name) {
            return risk.why;
        }
    }
    return {};
}

std::string OutsideSystemRisk() {
    return "it is not in the system folder, so the loader's search order finds it, and a file "
           "of that name planted in a folder searched earlier runs inside the host (search-order "
           "hijack)";
}

} // namespace standin
