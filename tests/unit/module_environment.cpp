// The unit tests link the module's code statically; its services are started
// once for the whole run, as the entry point does when the DLL attaches.
#include <gtest/gtest.h>

#include "runtime/module.h"

namespace {

class ModuleEnvironment : public testing::Environment {
  public:
    void SetUp() override { dovemarl::runtime::StartModule(GetModuleHandleA(nullptr)); }
    void TearDown() override { dovemarl::runtime::StopModule(); }
};

const auto* const Registered = testing::AddGlobalTestEnvironment(new ModuleEnvironment);

} // namespace
