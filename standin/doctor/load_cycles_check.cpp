// Loads and unloads the plug-in again and again without calling it, and
// measures what the process holds after each cycle. What a first load keeps
// for good (a system DLL pinned, a lazily made system resource) is no leak,
// so the measurement starts after a few warm-up cycles and a figure counts as
// growth only when it grew in both halves of the measured cycles: a leak
// grows with every cycle, a one-time cost once.
#include <cstdio>

#include "left_classes.h"
#include "lifecycle_checks.h"
#include "resource_census.h"
#include "window_classes.h"

namespace standin {

namespace {

constexpr int WarmUpCycles = 2;

struct Measure {
    const char* name;
    int Census::*field;
};

constexpr Measure Measures[] = {
    {"handles", &Census::handles},
    {"threads", &Census::threads},
    {"top-level windows", &Census::topWindows},
    {"message-only windows", &Census::messageWindows},
    {"loaded modules", &Census::modules},
};

std::string PerCycle(int growth, int cycles) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f", static_cast<double>(growth) / cycles);
    return text;
}

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
        if (!Cycle(request, "(warm-up " + std::to_string(i) + ")", log, classes, image)) {
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
        if (!Cycle(request, std::to_string(i) + " of " + std::to_string(request.cycles), log,
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

    for (const Measure& measure : Measures) {
        int a = first.*measure.field;
        int b = middle.*measure.field;
        int c = last.*measure.field;
        std::string figure = std::string(measure.name) + " " + std::to_string(a) + " -> " +
                             std::to_string(c) + " (" + PerCycle(c - a, request.cycles) +
                             " per cycle)";
        log.Figure(figure);
        if (b > a && c > b) {
            log.Fault(std::string(measure.name) + " grow by " + PerCycle(c - a, request.cycles) +
                      " per load and unload without a call: " + std::to_string(a) + " -> " +
                      std::to_string(c) + " over " + std::to_string(request.cycles) +
                      " cycles, after " + std::to_string(WarmUpCycles) + " to warm up");
        }
    }
    std::vector<LeftClass> left = classes.StillRegistered();
    log.Figure("window classes of the plug-in registered " + std::to_string(classesFirst) + " -> " +
               std::to_string(left.size()) + " (of " + std::to_string(classes.Known()) + " seen)");
    ReportLeftClasses(classes, image, log, "fault", true);
    log.Done();
    return 0;
}

} // namespace standin
