#pragma once
// What a check process's lines (see lifecycle_log.h) and the way the process
// ended say about the plug-in. A check passes its end only when it wrote
// "done" and its process then exited with status 0; the process's exit is
// the last step of every check, because whatever the plug-in left in the
// process (an exit-time callback, a thread-exit callback) runs there.
//   - A step that outlasted the time-out did not finish (the exit too).
//   - A crash line is a crash in the step it came in.
//   - Without "done" and without a crash line, the process died in its step.
//   - After "done", an exit status other than 0 (with no crash line to say
//     more) is a fault of the exit step.
//   - Suspects become faults when the check did not finish.
#include <windows.h>

#include <string>
#include <vector>

namespace standin {

// No step of a healthy plug-in takes long; a run with boxes and a monitor
// takes a few seconds under Wine.
inline constexpr DWORD StepTimeoutMs = 30000;
// The step after "done".
inline constexpr char ExitStep[] = "exit of the check process";

struct CheckOutcome {
    std::vector<std::string> shown;  // figures and notes, in order
    std::vector<std::string> faults; // in order, each once
};

struct CheckEnd {
    bool timedOut = false; // the doctor ended the process after a step's time-out
    DWORD exitCode = 0;    // the process's exit status
};

CheckOutcome JudgeCheck(const std::vector<std::string>& lines, const CheckEnd& end);

// The kind of a line ("step", "fault", ...) and the text after it.
std::string LineKind(const std::string& line);
std::string LineText(const std::string& line);

// "exception 0xc0000005" for an exception code (a crash ends a process with
// its code), "exit status 3" for anything else.
std::string DescribeExit(DWORD code);

} // namespace standin
