#pragma once
// The lifecycle doctor: runs each lifecycle check of a plug-in (see
// lifecycle_checks.h) in a child process of its own, so that a plug-in that
// crashes or hangs the process is reported and the doctor carries on; every
// step of a check has a time-out. Prints what each check measured, one line
// per fault and a summary line, and returns the exit status.
#include <string>
#include <vector>

namespace standin {

inline constexpr int DefaultCycles = 20;

// Runs the checks named in checks (every check when it is empty).
int RunLifecycleDoctor(const std::string& plugin, int cycles,
                       const std::vector<std::string>& checks);

// The check names of a comma-separated list, in the doctor's order; empty
// when the list names one that does not exist.
std::vector<std::string> CheckList(const std::string& list);

} // namespace standin
