#pragma once
// The lifecycle doctor: runs each lifecycle check of a plug-in (see
// lifecycle_checks.h) in a child process of its own, so that a plug-in that
// crashes or hangs the process is reported and the doctor carries on; every
// step of a check has a time-out. Prints what each check measured, one line
// per fault and a summary line, and returns the exit status.
#include <string>

namespace standin {

inline constexpr int DefaultCycles = 20;

int RunLifecycleDoctor(const std::string& plugin, int cycles);

} // namespace standin
