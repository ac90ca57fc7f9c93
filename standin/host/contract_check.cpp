#include "contract_check.h"

#include <cstdio>

#include "text_probe.h"

namespace standin {

namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

std::string Address(const void* address) {
    return Hex(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address)));
}

} // namespace

CallOutcome CallExport(const char* name, const void* function, uint32_t argument,
                       ContractReport& report) {
    CallOutcome outcome = GuardedCall(function, argument);
    std::string who = name;
    if (outcome.crashed) {
        report.Fault(who + " crashed: exception " + Hex(outcome.exceptionCode) + " at " +
                     Hex(outcome.exceptionAddress));
        return outcome;
    }
    if (outcome.stackError < 0) {
        report.Fault(who + " left " + std::to_string(-outcome.stackError) +
                     " byte(s) of arguments on the stack (not stdcall)");
    } else if (outcome.stackError > 0) {
        report.Fault(who + " removed " + std::to_string(outcome.stackError) +
                     " byte(s) more than its 4-byte argument from the stack");
    }
    if (outcome.result != 0) {
        report.Fault(who + " returned " + std::to_string(outcome.result) + ", must return 0");
    }
    return outcome;
}

void ProposalCheck::AfterRun(const dovemarl::GameInfo& record, ContractReport& report) {
    address_ = record.newtitle;
    ProbedText proposal = ProbeText(address_);
    readable_ = proposal.state == TextState::Readable;
    text_ = proposal.text;
    if (proposal.state == TextState::Null) {
        std::printf("pluginrun proposed no title\n");
    } else if (!readable_) {
        report.Fault(std::string("newtitle after pluginrun is ") + Describe(proposal.state) + " (" +
                     Address(address_) + ")");
    } else {
        std::printf("proposed title: \"%s\"\n", text_.c_str());
    }
}

void ProposalCheck::Recheck(const dovemarl::GameInfo& record, ContractReport& report) {
    if (record.newtitle != address_) {
        report.Fault("newtitle changed from " + Address(address_) + " to " +
                     Address(record.newtitle) + " after pluginrun returned");
        return;
    }
    if (!readable_) {
        return;
    }
    ProbedText now = ProbeText(address_);
    if (now.state != TextState::Readable) {
        report.Fault(std::string("the proposed title became ") + Describe(now.state) +
                     " after pluginrun returned");
    } else if (now.text != text_) {
        report.Fault("the proposed title changed from \"" + text_ + "\" to \"" + now.text +
                     "\" after pluginrun returned");
    }
}

} // namespace standin
