#include "runtime/module.h"

#include "run/proposed_title.h"
#include "runtime/heaps.h"
#include "runtime/library.h"
#include "runtime/text_workspace.h"
#include "runtime/thread_area.h"
#include "runtime/thread_exit.h"
#include "ui/event_queue.h"
#include "ui/label.h"
#include "ui/message_box.h"
#include "ui/post_window.h"
#include "ui/top_window.h"
#include "ui/window_retirement.h"
#include "ui/window_system.h"

namespace dovemarl::runtime {

HINSTANCE ModuleInstance = nullptr;

// Runs under the loader lock, so it does kernel32 work only: heaps, TLS slots,
// locks and lists. What the window layer needs of user32 and gdi32 is set up
// by the first thread that opens a box, window or label (EnsureWindowSystem);
// the hidden window for posted events is made by the first pluginrun.
void StartModule(HINSTANCE instance) {
    ModuleInstance = instance;
    MainHeap = MakePrivateHeap();
    StartTextService();
    StartThreadExit();
    // The event service: each thread's queue and the lock around the queues.
    // The hidden window other threads can post events through is made on
    // first need (see EnsurePostWindow).
    ui::StartEventQueues();
    ui::StartWindowSystem();
    ui::StartWindowService();
    ui::StartLabelService();
    StartLibraryService();
    ui::StartMessageBoxService();
}

void StopModule() {
    // First, so that no exit hook runs while the services go down or after
    // the heaps are gone.
    StopThreadExit();
    StopLibraryService();
    // Labels and control parents are unhooked before their windows close, so
    // that a window of another thread, handed to that thread to destroy, takes
    // no subclass into the module with it.
    ui::StopLabelService();
    ui::StopWindowService();
    ui::StopPostWindow();
    // Every window of another thread is handed over by now; what its thread
    // is still doing in the module's procedures ends before the locks those
    // procedures may be waiting for, the heaps and the code go.
    ui::AwaitWindowProcedures();
    ui::FinishLabelService();
    ui::FinishWindowService();
    ui::StopEventQueues();
    ui::StopMessageBoxService();
    StopThreadAreas();
    run::StopProposedTitle();
    StopTextService();
    DestroyPrivateHeap(MainHeap);
    ModuleInstance = nullptr;
}

} // namespace dovemarl::runtime
