#pragma once
// Checks of the module's invariants, active in the test build only
// (DOVEMARL_TEST_BUILD: the unit tests' library and the test DLLs). A failed
// check writes what failed to the standard error and ends the process with a
// trap instruction, a crash at the failing place; the shipped DLL compiles
// every check to nothing, so a check must not have effects of its own.

#ifdef DOVEMARL_TEST_BUILD

namespace dovemarl::runtime {
[[noreturn]] void InvariantFailed(const char* condition, const char* file, int line);
} // namespace dovemarl::runtime

#define DOVEMARL_INVARIANT(condition)                                                              \
    ((condition) ? static_cast<void>(0)                                                            \
                 : ::dovemarl::runtime::InvariantFailed(#condition, __FILE__, __LINE__))

#else

#define DOVEMARL_INVARIANT(condition) static_cast<void>(0)

#endif
