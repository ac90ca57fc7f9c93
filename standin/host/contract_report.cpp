#include "contract_report.h"

#include <cstdio>

namespace standin {

void ContractReport::Fault(std::string text) {
    std::lock_guard lock(mutex_);
    std::printf("[contract] %s\n", text.c_str());
    std::fflush(stdout);
    faults_.push_back(std::move(text));
}

bool ContractReport::Clean() {
    std::lock_guard lock(mutex_);
    return faults_.empty();
}

void ContractReport::Print() {
    std::lock_guard lock(mutex_);
    if (faults_.empty()) {
        std::printf("contract: met\n");
    } else {
        std::printf("contract: broken in %zu way(s):\n", faults_.size());
        for (const std::string& fault : faults_) {
            std::printf("  - %s\n", fault.c_str());
        }
    }
    std::fflush(stdout);
}

} // namespace standin
