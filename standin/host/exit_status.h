#pragma once
// What standin-host.exe's exit status says.

namespace standin {

enum ExitStatus : int {
    AllAsExpected = 0,
    CannotRun = 1,       // bad command line, or the plug-in cannot be loaded
    ContractBroken = 2,  // the plug-in broke the host contract
    RunUnexpected = 3,   // the contract was met, but the monitor window did not behave
    LifecycleFaults = 4, // --lifecycle: a lifecycle check found a fault
};

} // namespace standin
