#pragma once
// The list of ways a plug-in broke the host contract, in the order they were
// found, and the host's own notes on the run.
#include <mutex>
#include <string>
#include <vector>

namespace standin {

class ContractReport {
  public:
    // A breach of the contract: the plug-in fails the check.
    void Fault(std::string text);
    bool Clean();
    // Prints the faults, or that there were none.
    void Print();

  private:
    std::mutex mutex_; // faults come from the UI thread and the checking thread
    std::vector<std::string> faults_;
};

} // namespace standin
