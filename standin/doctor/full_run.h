#pragma once
// One full run of a plug-in as the host's automatic mode makes it: the three
// exports called in turn on the calling thread (the run thread), which serves
// its windows throughout, boxes answered, and the plug-in's windows closed as
// a person would.
#include <windows.h>

#include "host/box_watcher.h"
#include "host/contract_report.h"
#include "host/game_record.h"
#include "host/game_window.h"
#include "lifecycle_log.h"
#include "message_pump.h"
#include "window_classes.h"

namespace standin {

// The host's side of a run, made once per check on the run thread.
struct RunHost {
    explicit RunHost(LifecycleLog& log);
    ContractReport contract; // the contract check has a mode of its own
    GameRecord record{contract};
    GameWindow game{record};
    WindowClasses classes; // of every window seen, hooked on this thread
    BoxWatcher boxes;
};

// Calls pluginload, pluginrun and pluginunload of the loaded plug-in, each as
// a step of the log.
void RunPlugin(HMODULE plugin, RunHost& host, LifecycleLog& log);

} // namespace standin
