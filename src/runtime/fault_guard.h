#pragma once
// Running a read of memory the module cannot vouch for, so that an access
// fault inside it ends the read instead of the host's process.
#include <cstddef>
#include <cstdint>

namespace dovemarl::runtime {

using GuardedProcedure = void (*)(void* context);

// The length to give for a read whose end is not known beforehand (a text
// read up to its NUL): the foreign memory then runs to the end of the address
// space.
constexpr size_t UnboundedRead = SIZE_MAX;

// Runs procedure(context) under a structured-exception frame of its own.
// Returns true when the procedure ran to its end, false when a read of the
// pages that hold the foreignBytes bytes at foreign (whole pages, as string
// routines read aligned words) was cut short by an access violation, a
// guard-page violation or an in-page error (memory the system could not
// bring in); a guard page it touched has its guard back by then. Any other
// exception passes on to the handlers further out, a fault while writing
// (into the module's own buffer) or while reading other memory included: that
// is the module's own fault, and shows as any crash does. A cut procedure is
// abandoned where it stood, without unwinding, so it must be plain loads and
// stores: nothing to release, no lock held, no exception frames of its own.
bool RunGuarded(GuardedProcedure procedure, void* context, const void* foreign,
                size_t foreignBytes);

} // namespace dovemarl::runtime
