#include "full_run.h"

#include <map>

#include "host/contract_check.h"
#include "host/monitor_check.h"
#include "host/plugin_exports.h"
#include "message_pump.h"
#include "resource_census.h"

namespace standin {

namespace {

constexpr DWORD SurveyIntervalMs = 20;
constexpr DWORD MonitorCloseAfterMs = 300; // lets the monitor window show first
constexpr DWORD OtherCloseAfterMs = 2000;  // a window of another plug-in, closed later
constexpr DWORD CloseAgainMs = 2000;       // if the first request went unheeded
constexpr DWORD AfterRunPumpMs = 200;

// While the plug-in runs: learns the classes of every window of the process
// and closes the plug-in's windows once they have been up for a moment, as a
// person would: the monitor window soon, any other top-level window of the
// plug-in (not a box, which the box watcher answers) a little later, and
// again if a request went unheeded.
class RunSurvey {
  public:
    RunSurvey(WindowClasses& classes, HWND game) : classes_(classes), game_(game) {
        stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, Thread, this, 0, nullptr);
    }
    ~RunSurvey() { Stop(); }
    RunSurvey(const RunSurvey&) = delete;
    RunSurvey& operator=(const RunSurvey&) = delete;

    void Stop() {
        if (thread_ == nullptr) {
            return;
        }
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(stop_);
        thread_ = nullptr;
    }

  private:
    struct Sighting {
        DWORD first = 0;
        DWORD asked = 0;
    };

    static DWORD WINAPI Thread(void* self) {
        static_cast<RunSurvey*>(self)->Run();
        return 0;
    }

    bool Closable(const WindowEntry& window) const {
        auto style = static_cast<DWORD>(GetWindowLongPtrA(window.window, GWL_STYLE));
        return !window.messageOnly && (style & WS_CHILD) == 0 && window.window != game_ &&
               window.className != "#32770" && IsWindowVisible(window.window);
    }

    void Run() {
        std::map<HWND, Sighting> sightings;
        while (WaitForSingleObject(stop_, SurveyIntervalMs) == WAIT_TIMEOUT) {
            std::map<HWND, Sighting> still;
            DWORD now = GetTickCount();
            // Nothing here sends a message to the run thread, which may be
            // busy: FindWindow reads the title without asking the window.
            HWND monitor = FindWindowA(nullptr, MonitorTitle);
            for (const WindowEntry& window : Windows()) {
                classes_.Learn(window);
                if (!Closable(window)) {
                    continue;
                }
                Sighting sighting = sightings.count(window.window) != 0 ? sightings[window.window]
                                                                        : Sighting{now, 0};
                DWORD after = window.window == monitor ? MonitorCloseAfterMs : OtherCloseAfterMs;
                if (now - sighting.first >= after &&
                    (sighting.asked == 0 || now - sighting.asked >= CloseAgainMs)) {
                    PostMessageA(window.window, WM_CLOSE, 0, 0);
                    sighting.asked = now;
                }
                still[window.window] = sighting;
            }
            sightings.swap(still);
        }
    }

    WindowClasses& classes_;
    HWND game_;
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;
};

void Call(const char* name, const void* function, uint32_t argument, ContractReport& report,
          LifecycleLog& log) {
    if (function == nullptr) {
        log.Note(std::string(name) + " is not exported; not called");
        return;
    }
    log.Step(name);
    DWORD start = GetTickCount();
    CallOutcome outcome = CallExport(name, function, argument, report);
    std::string text =
        std::string(name) + " returned in " + std::to_string(GetTickCount() - start) + " ms";
    if (outcome.crashed != 0) {
        text = std::string(name) + " crashed (exception " + Hex(outcome.exceptionCode) + " at " +
               Hex(outcome.exceptionAddress) + "); the stand-in host's --auto mode names why";
    }
    log.Note(text);
}

} // namespace

RunHost::RunHost(LifecycleLog& log)
    : boxes([&log](const SeenBox& box) { log.Note("box '" + box.title + "' answered"); }) {
    game.busy = true;
    classes.HookThisThread();
}

void RunPlugin(HMODULE plugin, RunHost& host, LifecycleLog& log) {
    PluginExports exports = FindPluginExports(plugin, host.contract);
    RunSurvey survey(host.classes, host.game.Handle());
    Call("pluginload", exports.load, 0, host.contract, log);
    host.record.Update(host.game.Handle());
    host.game.StartWatching();
    Call("pluginrun", exports.run,
         static_cast<uint32_t>(reinterpret_cast<uintptr_t>(host.record.Record())), host.contract,
         log);
    host.game.StopWatching();
    Pump(AfterRunPumpMs);
    Call("pluginunload", exports.unload, 0, host.contract, log);
    host.classes.Survey();
}

} // namespace standin
