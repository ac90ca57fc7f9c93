// The entry point under the loader lock: everything the plug-in's load pulls
// into the host happens while the loader lock is held, in a host that may not
// have loaded those DLLs yet. Named here: each DLL the image imports, the
// known risks among the imports of its imports, and each DLL loaded during the
// load (whatever an entry point loaded too), with the risk it carries where it
// is a known one, any window or thread the attach made, and any window class
// the detach left registered.
#include <algorithm>
#include <set>

#include "dll_risks.h"
#include "left_classes.h"
#include "lifecycle_checks.h"
#include "resource_census.h"
#include "window_classes.h"

namespace standin {

namespace {

std::set<std::string> ModulePaths() {
    std::set<std::string> paths;
    for (const ModuleEntry& module : Modules()) {
        paths.insert(Lowercase(module.path));
    }
    return paths;
}

std::string ModulePath(const std::string& name) {
    HMODULE module = GetModuleHandleA(name.c_str());
    char path[MAX_PATH] = "";
    if (module == nullptr || GetModuleFileNameA(module, path, MAX_PATH) == 0) {
        return {};
    }
    return path;
}

// The imports of the plug-in, each with where it was found and its risk.
void ReportImports(HMODULE plugin, LifecycleLog& log, std::set<std::string>& named) {
    std::string list;
    for (const std::string& name : ImportedNames(plugin)) {
        std::string path = ModulePath(name);
        list += (list.empty() ? "" : ", ") + name;
        named.insert(Lowercase(BaseName(name)));
        std::string risk = KnownRisk(name);
        if (!risk.empty()) {
            log.Fault("imports " + name + ": " + risk);
        } else if (!path.empty() && !InSystemFolder(path)) {
            log.Fault("imports " + name + " from " + path + ": " + OutsideSystemRisk());
        }
    }
    log.Figure("imports: " + (list.empty() ? std::string("none") : list));
}

// The DLLs the imports pull in with their own imports, already loaded or not:
// a host that has not loaded them yet loads them under the loader lock with
// the plug-in. Each known risk among them is named with the way it comes.
void ReportIndirect(HMODULE plugin, LifecycleLog& log, std::set<std::string>& named) {
    struct Reached {
        std::string name;
        std::string way; // "a.dll -> b.dll"
    };
    std::vector<Reached> queue;
    std::set<std::string> seen = named;
    for (const std::string& name : ImportedNames(plugin)) {
        queue.push_back({name, name});
    }
    for (size_t i = 0; i < queue.size(); ++i) {
        Reached reached = queue[i];
        HMODULE module = GetModuleHandleA(reached.name.c_str());
        if (module == nullptr) {
            continue; // an API set or a name the loader resolved otherwise
        }
        for (const std::string& name : ImportedNames(module)) {
            std::string lower = Lowercase(name);
            if (!seen.insert(lower).second) {
                continue;
            }
            std::string way = reached.way + " -> " + name;
            std::string risk = KnownRisk(name);
            if (!risk.empty()) {
                named.insert(lower);
                log.Fault(name + " comes with the load, imported through " + way + ": " + risk);
            }
            queue.push_back({name, way});
        }
    }
}

// The DLLs that came with the load: the plug-in's imports not yet loaded,
// their own imports, and any DLL an entry point loaded.
void ReportLoaded(const std::set<std::string>& before, const ImageRange& plugin, LifecycleLog& log,
                  const std::set<std::string>& named) {
    std::string list;
    for (const ModuleEntry& module : Modules()) {
        if (before.count(Lowercase(module.path)) != 0 || module.base == plugin.base) {
            continue;
        }
        bool system = InSystemFolder(module.path);
        list += (list.empty() ? "" : ", ") + module.name + (system ? "" : " (" + module.path + ")");
        if (named.count(Lowercase(module.name)) != 0) {
            continue; // named with the imports already
        }
        std::string risk = KnownRisk(module.name);
        if (!risk.empty()) {
            log.Fault(module.name + " is loaded during attach, under the loader lock: " + risk);
        } else if (!system) {
            log.Fault(module.name + " is loaded during attach from " + module.path + ": " +
                      OutsideSystemRisk());
        }
    }
    log.Figure("loaded during attach: " + (list.empty() ? std::string("nothing new") : list));
}

} // namespace

int CheckAttach(const CheckRequest& request, LifecycleLog& log) {
    std::vector<DWORD> threadsBefore = ThreadIds();
    std::set<HWND> windowsBefore;
    for (const WindowEntry& window : Windows()) {
        windowsBefore.insert(window.window);
    }
    WindowClasses made;
    made.HookThisThread();
    // Taken last: listing the windows and setting the hook may load the
    // display driver and its companions, which the plug-in did not bring.
    std::set<std::string> modulesBefore = ModulePaths();

    log.Step("load");
    HMODULE plugin = LoadLibraryA(request.plugin.c_str());
    made.StopHook();
    if (plugin == nullptr) {
        log.Fault("cannot be loaded (error " + std::to_string(GetLastError()) + ")");
        log.Done();
        return 0;
    }
    ImageRange image = RangeOf(plugin);
    log.SetImage(image, false);
    log.Figure("image at " + Hex(image.base) + ", " + std::to_string(image.size) + " bytes");

    std::set<std::string> named;
    ReportImports(plugin, log, named);
    ReportIndirect(plugin, log, named);
    ReportLoaded(modulesBefore, image, log, named);

    std::string windows;
    for (const WindowEntry& window : Windows()) {
        if (windowsBefore.count(window.window) == 0) {
            windows += (windows.empty() ? "" : ", ") + std::string("'") + window.className + "'" +
                       (window.messageOnly ? " (message-only)" : "");
        }
    }
    if (!windows.empty()) {
        log.Fault("attach made window(s) under the loader lock: " + windows +
                  "; a window made at load costs every load and belongs to whichever thread "
                  "loaded the plug-in");
    } else if (made.WindowsMade() != 0) {
        log.Fault("attach made a window under the loader lock and destroyed it before the load "
                  "returned");
    }
    std::string threads;
    for (DWORD id : ThreadIds()) {
        if (std::find(threadsBefore.begin(), threadsBefore.end(), id) == threadsBefore.end()) {
            ThreadEntry thread = DescribeThread(id);
            threads += (threads.empty() ? "" : ", ") + std::to_string(id) + " (started at " +
                       Hex(thread.start) + (image.Contains(thread.start) ? ", in the image)" : ")");
        }
    }
    if (!threads.empty()) {
        log.Fault("attach started thread(s): " + threads +
                  "; a thread started under the loader lock cannot run its own attach until the "
                  "load returns, and one waited for there deadlocks");
    }
    bool madeWindow = !windows.empty() || made.WindowsMade() != 0;
    log.Figure(std::string("attach made ") + (madeWindow ? "windows" : "no window") + " and " +
               (threads.empty() ? "no thread" : "threads"));

    log.Step("unload");
    FreeLibrary(plugin);
    // A class registered at attach and left by the detach.
    made.SetImage(image);
    made.LearnFromAtoms(reinterpret_cast<HINSTANCE>(plugin));
    ReportLeftClasses(made, image, log, "fault", true);
    log.Done();
    return 0;
}

} // namespace standin
