// A stand-in for the game client's plug-in host, and a check of the host
// contract (include/dovemarl/plugin_contract.h) for any plug-in:
//
//   standin-host.exe [--auto] [--pictures FOLDER] [PLUGIN.dll]
//   standin-host.exe --lifecycle [--cycles N] [--checks A,B] [PLUGIN.dll]
//   standin-host.exe --version
//
// It opens a game window, loads the plug-in (Dovemarl.dll beside the host by
// default), checks its exports, and calls pluginload, pluginrun with the live
// record of the game window, and pluginunload, on its UI thread. Whatever the
// plug-in does against the contract is listed at the end; the exit status
// says whether it met the contract (see exit_status.h).
//
// Without --auto a person answers the boxes, may drag and resize the game
// window while the plug-in's monitor window shows its record, and ends the
// run by closing the monitor window. --auto answers every box, prints what it
// said, checks the monitor window, and saves pictures into FOLDER (default
// "pictures" in the current folder).
//
// --lifecycle runs the lifecycle doctor instead (doctor/lifecycle_doctor.h): load
// and unload cycles, the entry point under the loader lock, and a run
// followed by an unload from another thread, each in a child process (this
// host started again with --lifecycle-check).
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "box_watcher.h"
#include "contract_check.h"
#include "contract_report.h"
#include "doctor/lifecycle_checks.h"
#include "doctor/lifecycle_doctor.h"
#include "exit_status.h"
#include "game_record.h"
#include "game_window.h"
#include "monitor_check.h"
#include "pictures.h"
#include "plugin_exports.h"

namespace {

using namespace standin;

constexpr char DefaultPlugin[] = "Dovemarl.dll";
constexpr char DefaultPictures[] = "pictures";
constexpr DWORD AfterRunPumpMs = 200; // serves the windows before the proposal is checked again
constexpr DWORD BoxPaintMs = 150;     // lets a box paint before its picture is taken

struct Options {
    bool automatic = false;
    std::string plugin;
    std::string pictures = DefaultPictures;
    bool lifecycle = false;
    int cycles = DefaultCycles;
    std::vector<std::string> checks; // of the doctor, all when empty
    std::string check;               // a lifecycle check process: the check's name
    std::string result;              // and the file it writes
};

std::string HostFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (char* slash = std::strrchr(path, '\\')) {
        slash[1] = '\0';
    }
    return path;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--auto") == 0) {
            options.automatic = true;
        } else if (std::strcmp(argv[i], "--pictures") == 0 && i + 1 < argc) {
            options.pictures = argv[++i];
        } else if (std::strcmp(argv[i], "--lifecycle") == 0) {
            options.lifecycle = true;
        } else if (std::strcmp(argv[i], "--cycles") == 0 && i + 1 < argc) {
            options.cycles = std::atoi(argv[++i]);
            if (options.cycles < 2) {
                return false;
            }
        } else if (std::strcmp(argv[i], "--checks") == 0 && i + 1 < argc) {
            options.checks = CheckList(argv[++i]);
            if (options.checks.empty()) {
                return false;
            }
        } else if (std::strcmp(argv[i], "--lifecycle-check") == 0 && i + 1 < argc) {
            options.check = argv[++i];
        } else if (std::strcmp(argv[i], "--result") == 0 && i + 1 < argc) {
            options.result = argv[++i];
        } else if (argv[i][0] != '-' && options.plugin.empty()) {
            options.plugin = argv[i];
        } else {
            return false;
        }
    }
    if (options.plugin.empty()) {
        options.plugin = HostFolder() + DefaultPlugin;
    }
    return true;
}

void PrintBox(const SeenBox& box) {
    std::string text = box.text;
    for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) {
        text.replace(at, 2, "\n    ");
    }
    std::printf("[box] %s%s\n    %s\n", box.title.c_str(), box.icon ? " (information)" : "",
                text.c_str());
    std::fflush(stdout);
}

// Serves the UI thread's windows for a while.
void PumpMessages(DWORD durationMs) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < durationMs) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, durationMs, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

struct Timing {
    DWORD load = 0;
    DWORD run = 0;
    DWORD unload = 0;
    DWORD free = 0;
};

// Calls one export with the record watched, and times it.
void CallWatched(const char* name, const void* function, uint32_t argument, GameRecord& record,
                 GameWindow& game, ContractReport& report, DWORD& elapsed) {
    if (function == nullptr) {
        return;
    }
    record.SetCaller(name);
    game.StartWatching();
    DWORD start = GetTickCount();
    CallExport(name, function, argument, report);
    elapsed = GetTickCount() - start;
    game.StopWatching();
    record.CheckWrites();
    std::printf("%s done in %lu ms\n", name, elapsed);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("standin-host (Dovemarl) %s\n", DOVEMARL_VERSION);
        return AllAsExpected;
    }
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::printf("usage: standin-host.exe [--auto] [--pictures FOLDER] [PLUGIN.dll]\n"
                    "       standin-host.exe --lifecycle [--cycles N] [--checks A,B] [PLUGIN.dll]\n"
                    "       standin-host.exe --version\n");
        return CannotRun;
    }
    if (options.lifecycle) {
        return RunLifecycleDoctor(options.plugin, options.cycles, options.checks);
    }
    if (!options.check.empty()) {
        LifecycleLog log(options.result);
        return log.Open() ? RunCheck(options.check, {options.plugin, options.cycles}, log)
                          : CannotRun;
    }
    ContractReport report;
    GameRecord record(report);
    GameWindow game(record);
    game.busy = true;

    std::unique_ptr<Pictures> pictures;
    std::unique_ptr<BoxWatcher> answerer;
    std::atomic<int> boxes = 0;
    if (options.automatic) {
        pictures = std::make_unique<Pictures>(options.pictures);
        answerer = std::make_unique<BoxWatcher>([&](const SeenBox& box) {
            PrintBox(box);
            Sleep(BoxPaintMs);
            pictures->Save(box.box, "box-" + std::to_string(++boxes));
        });
    }

    DWORD loadStart = GetTickCount();
    HMODULE plugin = LoadLibraryA(options.plugin.c_str());
    if (plugin == nullptr) {
        std::printf("cannot load %s (error %lu)\n", options.plugin.c_str(), GetLastError());
        return CannotRun;
    }
    std::printf("loaded %s in %lu ms\n", options.plugin.c_str(), GetTickCount() - loadStart);
    PluginExports exports = FindPluginExports(plugin, report);

    Timing timing;
    CallWatched("pluginload", exports.load, 0, record, game, report, timing.load);

    MonitorResult monitor;
    ProposalCheck proposal;
    if (exports.run != nullptr) {
        record.Update(game.Handle());
        std::unique_ptr<MonitorCheck> check;
        if (options.automatic) {
            check = std::make_unique<MonitorCheck>(game, record, *pictures);
            check->RunStarting();
        }
        auto argument = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record.Record()));
        CallWatched("pluginrun", exports.run, argument, record, game, report, timing.run);
        game.ApplyProposal();
        proposal.AfterRun(*record.Record(), report);
        if (check) {
            check->RunReturned();
            monitor = check->Finish();
        }
        PumpMessages(AfterRunPumpMs);
        proposal.Recheck(*record.Record(), report);
    }

    CallWatched("pluginunload", exports.unload, 0, record, game, report, timing.unload);
    DWORD freeStart = GetTickCount();
    FreeLibrary(plugin);
    timing.free = GetTickCount() - freeStart;
    answerer.reset();

    std::printf("timing: pluginload %lu ms, pluginrun %lu ms, pluginunload %lu ms, unload %lu ms",
                timing.load, timing.run, timing.unload, timing.free);
    if (monitor.state == MonitorResult::State::Passed) {
        std::printf(", monitor shown after %lu ms, labels followed in %lu ms",
                    monitor.appearedAfterMs, monitor.followedInMs);
    }
    std::printf("\n");
    report.Print();
    if (options.automatic) {
        std::printf(monitor.state == MonitorResult::State::Passed ? "monitor: as expected\n"
                                                                  : "monitor: %s\n",
                    monitor.problem.c_str());
    }
    std::fflush(stdout);
    if (!report.Clean()) {
        return ContractBroken;
    }
    if (options.automatic && monitor.state != MonitorResult::State::Passed) {
        return RunUnexpected;
    }
    return AllAsExpected;
}
