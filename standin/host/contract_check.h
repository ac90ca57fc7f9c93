#pragma once
// The host's checks of one plug-in call and of the title it proposes.
#include <cstdint>
#include <string>

#include "contract_report.h"
#include "dovemarl/plugin_contract.h"
#include "guarded_call.h"

namespace standin {

// Calls an export guarded (see guarded_call.h) and reports a crash, an
// argument left on the stack and a result other than 0.
CallOutcome CallExport(const char* name, const void* function, uint32_t argument,
                       ContractReport& report);

// newtitle must name a readable NUL-terminated text that stays as it is
// until the next pluginrun or the unload.
class ProposalCheck {
  public:
    // Right after pluginrun has returned.
    void AfterRun(const dovemarl::GameInfo& record, ContractReport& report);
    // Later, before pluginunload.
    void Recheck(const dovemarl::GameInfo& record, ContractReport& report);

  private:
    const char* address_ = nullptr;
    bool readable_ = false;
    std::string text_;
};

} // namespace standin
