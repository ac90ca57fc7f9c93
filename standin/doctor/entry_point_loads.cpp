#include "entry_point_loads.h"

#include "dll_risks.h"

namespace standin {

namespace {

// Whose entry point may have loaded a DLL: the plug-in's, and those of the
// DLLs its imports brought in with it, whose attach ran during the load too.
std::string Loader(const std::vector<ModuleEntry>& fresh, const ImportClosure& closure) {
    std::string imports;
    for (const ModuleEntry& module : fresh) {
        if (closure.Contains(module.name)) {
            imports += (imports.empty() ? "" : ", ") + module.name;
        }
    }
    if (imports.empty()) {
        return "the plug-in's entry point loaded it under the loader lock";
    }
    return "an entry point loaded it under the loader lock, the plug-in's own or one of those "
           "its imports brought in (" +
           imports + "), so it comes through those imports";
}

} // namespace

std::vector<std::string> JudgeLoadedDuringAttach(const std::vector<ModuleEntry>& fresh,
                                                 const ImportClosure& closure,
                                                 const std::set<std::string>& named) {
    std::vector<std::string> faults;
    for (const ModuleEntry& module : fresh) {
        if (named.contains(ModuleKey(module.name))) {
            continue;
        }
        std::string risk = KnownRisk(module.name);
        bool system = InSystemFolder(module.path);
        if (!closure.Contains(module.name)) {
            std::string text = module.name + " was loaded during attach, outside the plug-in's " +
                               "imports and theirs: " + Loader(fresh, closure) +
                               "; its own attach runs under the lock too, which can hang the host";
            if (!risk.empty()) {
                text += "; " + risk;
            }
            if (!system) {
                text += "; it comes from " + module.path + ": " + OutsideSystemRisk();
            }
            faults.push_back(text);
        } else if (!risk.empty()) {
            faults.push_back(module.name +
                             " is loaded during attach, under the loader lock: " + risk);
        } else if (!system) {
            faults.push_back(module.name + " is loaded during attach from " + module.path + ": " +
                             OutsideSystemRisk());
        }
    }
    return faults;
}

std::vector<std::string> JudgeFreedDuringAttach(const std::vector<LoadNotice>& freed,
                                                const std::vector<ModuleEntry>& fresh,
                                                const ImportClosure& closure) {
    std::vector<std::string> faults;
    for (const LoadNotice& dll : freed) {
        std::string risk = KnownRisk(dll.name);
        faults.push_back(dll.name + " was loaded during attach and freed again before the load " +
                         "returned: " + Loader(fresh, closure) +
                         "; its attach and detach ran under the lock too, which can hang the host" +
                         (risk.empty() ? "" : "; " + risk));
    }
    return faults;
}

} // namespace standin
