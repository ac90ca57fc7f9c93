#pragma once
// Running a read of memory the module cannot vouch for, so that an access
// fault inside it ends the read instead of the host's process.

namespace dovemarl::runtime {

using GuardedProcedure = void (*)(void* context);

// Runs procedure(context) under a structured-exception frame of its own.
// Returns true when the procedure ran to its end, false when an access
// violation or a guard-page violation cut it short; a guard page it touched
// has its guard back by then. Any other exception passes on to the handlers
// further out. A cut procedure is abandoned where it stood, without unwinding,
// so it must be plain loads and stores: nothing to release, no lock held, no
// exception frames of its own.
bool RunGuarded(GuardedProcedure procedure, void* context);

} // namespace dovemarl::runtime
