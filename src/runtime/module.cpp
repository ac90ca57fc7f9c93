#include "runtime/module.h"

#include "run/proposed_title.h"
#include "runtime/heaps.h"
#include "runtime/library.h"
#include "runtime/text_workspace.h"
#include "runtime/thread_area.h"
#include "runtime/thread_exit.h"
#include "ui/message_box.h"

namespace dovemarl::runtime {

HINSTANCE ModuleInstance = nullptr;

void StartModule(HINSTANCE instance) {
    ModuleInstance = instance;
    MainHeap = MakePrivateHeap();
    StartTextService();
    StartThreadExit();
    StartLibraryService();
    ui::StartMessageBoxService();
}

void StopModule() {
    // First, so that no exit hook runs while the services go down or after
    // the heaps are gone.
    StopThreadExit();
    StopLibraryService();
    ui::StopMessageBoxService();
    StopThreadAreas();
    run::StopProposedTitle();
    StopTextService();
    DestroyPrivateHeap(MainHeap);
    ModuleInstance = nullptr;
}

} // namespace dovemarl::runtime
