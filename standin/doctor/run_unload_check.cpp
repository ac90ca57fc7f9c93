// One full run as the automatic mode makes it (boxes answered, the monitor
// window closed), then the unload from another thread than the one that ran
// the plug-in, as a host that unloads plug-ins from a worker thread does.
// What is left of the plug-in is looked for twice: at once after the unload
// (written as suspects, so that a crash soon after still names its cause)
// and again after the run thread has served its windows for a while, when
// whatever the plug-in handed over for closing is gone. What is still there
// then is a fault: a thread whose start or current instruction lies in the
// unloaded image, a window whose procedure lies there, a window class left
// registered (see left_classes.h).
#include <map>

#include "host/box_watcher.h"
#include "host/contract_check.h"
#include "host/game_record.h"
#include "host/game_window.h"
#include "host/monitor_check.h"
#include "host/plugin_exports.h"
#include "left_classes.h"
#include "lifecycle_checks.h"
#include "resource_census.h"
#include "window_classes.h"

namespace standin {

namespace {

constexpr DWORD SurveyIntervalMs = 20;
constexpr DWORD MonitorCloseAfterMs = 300; // lets the monitor window show first
constexpr DWORD OtherCloseAfterMs = 2000;  // a window of another plug-in, closed later
constexpr DWORD CloseAgainMs = 2000;       // if the first request went unheeded
constexpr DWORD AfterRunPumpMs = 200;
constexpr DWORD SettleMs = 1000; // the run thread serves its windows after the unload

void Pump(DWORD durationMs, HANDLE until = nullptr) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < durationMs) {
        DWORD wait = MsgWaitForMultipleObjects(until != nullptr ? 1 : 0, &until, FALSE,
                                               durationMs - (GetTickCount() - start), QS_ALLINPUT);
        if (until != nullptr && wait == WAIT_OBJECT_0) {
            return;
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

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

struct Remnants {
    ImageRange image;
    DWORD runThread = 0;
    std::map<DWORD, std::string> threads; // found at once after the unload
};

// What of the plug-in is still in the process. Suspects right after the
// unload, faults later; a thread keeps the text it was first found with.
void LookForRemnants(Remnants& remnants, WindowClasses& classes, LifecycleLog& log, bool final) {
    const char* kind = final ? "fault" : "suspect";
    for (DWORD id : ThreadIds()) {
        if (id == GetCurrentThreadId()) {
            continue;
        }
        auto known = remnants.threads.find(id);
        if (known != remnants.threads.end()) {
            log.Line(kind, known->second);
            continue;
        }
        ThreadEntry thread = DescribeThread(id);
        bool started = remnants.image.Contains(thread.start);
        bool inside = remnants.image.Contains(thread.instruction);
        if (!started && !inside) {
            continue;
        }
        std::string text = "thread " + std::to_string(id) +
                           (id == remnants.runThread ? " (the run thread)" : "") + " " +
                           (started ? "started at " + Hex(thread.start) : std::string("is")) +
                           (inside ? (started ? " and is at " : " at ") + Hex(thread.instruction)
                                   : std::string()) +
                           " in the unloaded image: it runs code that is gone";
        remnants.threads[id] = text;
        log.Line(kind, text);
    }
    for (const WindowEntry& window : Windows()) {
        if (remnants.image.Contains(window.procedure)) {
            log.Line(kind, std::string(window.messageOnly ? "message-only window" : "window") +
                               " of class '" + window.className + "' on thread " +
                               std::to_string(window.threadId) + " has its procedure " +
                               Hex(window.procedure) +
                               " in the unloaded image: its next message crashes the host");
        }
    }
    ReportLeftClasses(classes, remnants.image, log, kind, final);
}

struct UnloadWork {
    HMODULE plugin;
    Remnants* remnants;
    WindowClasses* classes;
    LifecycleLog* log;
    DWORD elapsedMs = 0;
};

DWORD WINAPI UnloadThread(void* argument) {
    auto* work = static_cast<UnloadWork*>(argument);
    DWORD start = GetTickCount();
    FreeLibrary(work->plugin);
    work->elapsedMs = GetTickCount() - start;
    work->log->SetImage(work->remnants->image, true);
    LookForRemnants(*work->remnants, *work->classes, *work->log, false);
    return 0;
}

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

int CheckRunAndUnload(const CheckRequest& request, LifecycleLog& log) {
    ContractReport contract; // the contract check has a mode of its own
    GameRecord record(contract);
    GameWindow game(record);
    game.busy = true;
    WindowClasses classes;
    classes.HookThisThread();
    BoxWatcher boxes([&log](const SeenBox& box) { log.Note("box '" + box.title + "' answered"); });

    log.Step("load");
    HMODULE plugin = LoadLibraryA(request.plugin.c_str());
    if (plugin == nullptr) {
        log.Fault("cannot be loaded (error " + std::to_string(GetLastError()) + ")");
        log.Done();
        return 0;
    }
    Remnants remnants;
    remnants.image = RangeOf(plugin);
    remnants.runThread = GetCurrentThreadId();
    classes.SetImage(remnants.image);
    log.SetImage(remnants.image, false);
    PluginExports exports = FindPluginExports(plugin, contract);

    {
        RunSurvey survey(classes, game.Handle());
        Call("pluginload", exports.load, 0, contract, log);
        record.Update(game.Handle());
        game.StartWatching();
        Call("pluginrun", exports.run,
             static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record.Record())), contract, log);
        game.StopWatching();
        Pump(AfterRunPumpMs);
        Call("pluginunload", exports.unload, 0, contract, log);
        classes.Survey();
    }

    log.Step("unload on another thread");
    UnloadWork work = {plugin, &remnants, &classes, &log};
    HANDLE unloader = CreateThread(nullptr, 0, UnloadThread, &work, 0, nullptr);
    // The run thread keeps serving its windows meanwhile, as a host's UI
    // thread does.
    Pump(INFINITE, unloader);
    CloseHandle(unloader);
    log.Note("unloaded on a thread other than the run thread in " + std::to_string(work.elapsedMs) +
             " ms");

    log.Step("after the unload");
    Pump(SettleMs);
    classes.StopHook();
    classes.LearnFromAtoms(reinterpret_cast<HINSTANCE>(const_cast<char*>(remnants.image.base)));
    LookForRemnants(remnants, classes, log, true);
    log.Done();
    return 0;
}

} // namespace standin
