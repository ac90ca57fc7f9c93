// Full runs again and again, each a load, the three calls and an unload, and
// what the process holds after each (see cycle_growth.h): what a run takes
// that its unload does not give back, which loads without a call do not show.
#include "cycle_growth.h"
#include "full_run.h"
#include "lifecycle_checks.h"

namespace standin {

namespace {

constexpr int WarmUpRuns = RunCyclesWarmUp;
constexpr int MeasuredRuns = RunCyclesMeasured;
constexpr DWORD AfterUnloadPumpMs = 300; // the run thread serves what the unload posted

// One full run; false when the plug-in cannot be loaded.
bool Run(const CheckRequest& request, const std::string& label, RunHost& host, LifecycleLog& log) {
    log.Step("load " + label);
    HMODULE plugin = LoadLibraryA(request.plugin.c_str());
    if (plugin == nullptr) {
        log.Fault("cannot be loaded (error " + std::to_string(GetLastError()) + ")");
        return false;
    }
    ImageRange image = RangeOf(plugin);
    host.classes.SetImage(image);
    log.SetImage(image, false);
    RunPlugin(plugin, host, log);
    log.Step("unload " + label);
    FreeLibrary(plugin);
    log.SetImage(image, true);
    Pump(AfterUnloadPumpMs);
    return true;
}

} // namespace

int CheckRunCycles(const CheckRequest& request, LifecycleLog& log) {
    RunHost host(log);
    CycleCensuses censuses;
    censuses.cycles = MeasuredRuns;
    censuses.warmUps = WarmUpRuns;
    for (int i = 1; i <= WarmUpRuns + MeasuredRuns; ++i) {
        if (!Run(request, CycleLabel(i, WarmUpRuns, MeasuredRuns), host, log)) {
            log.Done();
            return 0;
        }
        if (i == WarmUpRuns) {
            censuses.first = TakeCensus();
        } else if (i == WarmUpRuns + MeasuredRuns / 2) {
            censuses.middle = TakeCensus();
        }
    }
    censuses.last = TakeCensus();
    ReportGrowth(censuses, "full run (load, the three calls, unload)", log);
    log.Done();
    return 0;
}

} // namespace standin
