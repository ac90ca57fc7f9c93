// Loads and unloads the plug-in again and again without calling it, and
// measures what the process holds after each cycle (see cycle_growth.h).
#include "cycle_growth.h"
#include "left_classes.h"
#include "lifecycle_checks.h"
#include "resource_census.h"
#include "window_classes.h"

namespace standin {

namespace {

constexpr int WarmUpCycles = 2;

// One load and unload; false when the plug-in cannot be loaded.
bool Cycle(const CheckRequest& request, const std::string& label, LifecycleLog& log,
           WindowClasses& classes, ImageRange& image) {
    log.Step("load " + label);
    HMODULE plugin = LoadLibraryA(request.plugin.c_str());
    if (plugin == nullptr) {
        log.Fault("cannot be loaded (error " + std::to_string(GetLastError()) + ")");
        return false;
    }
    image = RangeOf(plugin);
    classes.SetImage(image);
    log.SetImage(image, false);
    classes.Survey();
    log.Step("unload " + label);
    FreeLibrary(plugin);
    log.SetImage(image, true);
    return true;
}

} // namespace

int CheckLoadCycles(const CheckRequest& request, LifecycleLog& log) {
    WindowClasses classes;
    classes.HookThisThread();
    ImageRange image;
    for (int i = 1; i <= WarmUpCycles; ++i) {
        if (!Cycle(request, CycleLabel(i, WarmUpCycles, request.cycles), log, classes, image)) {
            log.Done();
            return 0;
        }
    }
    int half = request.cycles / 2;
    Census first = TakeCensus();
    Census middle = first;
    auto instance = reinterpret_cast<HINSTANCE>(const_cast<char*>(image.base));
    classes.LearnFromAtoms(instance);
    size_t classesFirst = classes.StillRegistered().size();
    for (int i = 1; i <= request.cycles; ++i) {
        if (!Cycle(request, CycleLabel(WarmUpCycles + i, WarmUpCycles, request.cycles), log,
                   classes, image)) {
            log.Done();
            return 0;
        }
        if (i == half) {
            middle = TakeCensus();
        }
    }
    Census last = TakeCensus();
    classes.StopHook();
    classes.LearnFromAtoms(reinterpret_cast<HINSTANCE>(const_cast<char*>(image.base)));

    ReportGrowth({first, middle, last, request.cycles, WarmUpCycles},
                 "load and unload without a call", log);
    std::vector<LeftClass> left = classes.StillRegistered();
    log.Figure("window classes of the plug-in registered " + std::to_string(classesFirst) + " -> " +
               std::to_string(left.size()) + " (of " + std::to_string(classes.Known()) + " seen)");
    ReportLeftClasses(classes, image, log, "fault", true);
    log.Done();
    return 0;
}

} // namespace standin
