// The entry point under the loader lock: everything the plug-in's load pulls
// into the host happens while the loader lock is held, in a host that may not
// have loaded those DLLs yet. Named here: each DLL the image imports, the
// known risks among the imports of its imports, each DLL loaded during the
// load with the risk it carries where it is a known one, and any DLL an entry
// point loaded (see entry_point_loads.h); any window or thread the attach
// made, and any window class the detach left registered.
#include <algorithm>
#include <set>

#include "dll_risks.h"
#include "entry_point_loads.h"
#include "import_closure.h"
#include "load_notifications.h"
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
        named.insert(ModuleKey(name));
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
void ReportIndirect(const ImportClosure& closure, LifecycleLog& log, std::set<std::string>& named) {
    for (const ReachedDll& reached : closure.reached) {
        std::string risk = KnownRisk(reached.name);
        if (reached.direct || risk.empty()) {
            continue;
        }
        named.insert(ModuleKey(reached.name));
        log.Fault(reached.name + " comes with the load, imported through " + reached.way + ": " +
                  risk);
    }
}

// The DLLs that came with the load: the plug-in's imports not yet loaded,
// their own imports, and any DLL an entry point loaded, kept or freed again.
void ReportLoaded(const std::set<std::string>& before, const ImageRange& plugin,
                  const ImportClosure& closure, const std::vector<LoadNotice>& notices,
                  LifecycleLog& log, const std::set<std::string>& named) {
    std::vector<ModuleEntry> fresh;
    std::string list;
    for (const ModuleEntry& module : Modules()) {
        if (before.count(Lowercase(module.path)) != 0 || module.base == plugin.base) {
            continue;
        }
        fresh.push_back(module);
        bool system = InSystemFolder(module.path);
        list += (list.empty() ? "" : ", ") + module.name + (system ? "" : " (" + module.path + ")");
    }
    std::vector<LoadNotice> freed = LoadedAndUnloaded(notices);
    for (const LoadNotice& dll : freed) {
        list += (list.empty() ? "" : ", ") + dll.name + " (freed again)";
    }
    log.Figure("loaded during attach: " + (list.empty() ? std::string("nothing new") : list));
    for (const std::string& fault : JudgeLoadedDuringAttach(fresh, closure, named)) {
        log.Fault(fault);
    }
    for (const std::string& fault : JudgeFreedDuringAttach(freed, fresh, closure)) {
        log.Fault(fault);
    }
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
    LoadRecorder loads;
    HMODULE plugin = LoadLibraryA(request.plugin.c_str());
    loads.Stop();
    made.StopHook();
    if (plugin == nullptr) {
        log.Fault("cannot be loaded (error " + std::to_string(GetLastError()) + ")");
        log.Done();
        return 0;
    }
    ImageRange image = RangeOf(plugin);
    log.SetImage(image, false);
    log.Figure("image at " + Hex(image.base) + ", " + std::to_string(image.size) + " bytes");

    // Reading the loaded images' tables loads nothing, so the module list
    // taken below shows only what came with the load.
    ImportClosure closure = WalkImports(plugin);
    std::set<std::string> named;
    ReportImports(plugin, log, named);
    ReportIndirect(closure, log, named);
    ReportLoaded(modulesBefore, image, closure, loads.Notices(), log, named);

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
