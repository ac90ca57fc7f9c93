#include "runtime/module.h"

#include "runtime/heaps.h"
#include "ui/message_box.h"

namespace dovemarl::runtime {

HINSTANCE ModuleInstance = nullptr;

void StartModule(HINSTANCE instance) {
    ModuleInstance = instance;
    MainHeap = MakePrivateHeap();
    ui::StartMessageBoxService();
}

void StopModule() {
    ui::StopMessageBoxService();
    DestroyPrivateHeap(MainHeap);
    ModuleInstance = nullptr;
}

} // namespace dovemarl::runtime
