#include "check_verdict.h"

#include <algorithm>
#include <cstdio>

namespace standin {

namespace {

// Exception codes have their severity bits set (warnings 0x8..., errors
// 0xC...); exit statuses a program chooses do not.
constexpr DWORD FirstExceptionCode = 0x80000000;
constexpr size_t CodeTextCapacity = 32;
constexpr DWORD MsPerSecond = 1000;

constexpr char AfterCheck[] =
    "after the check: something the plug-in left behind runs at thread or process exit";

void AddFault(CheckOutcome& outcome, const std::string& text) {
    if (std::find(outcome.faults.begin(), outcome.faults.end(), text) == outcome.faults.end()) {
        outcome.faults.push_back(text);
    }
}

} // namespace

std::string LineKind(const std::string& line) {
    return line.substr(0, line.find(' '));
}

std::string LineText(const std::string& line) {
    size_t space = line.find(' ');
    return space == std::string::npos ? std::string() : line.substr(space + 1);
}

std::string DescribeExit(DWORD code) {
    if (code >= FirstExceptionCode) {
        char text[CodeTextCapacity];
        std::snprintf(text, sizeof text, "exception 0x%08lx", code);
        return text;
    }
    return "exit status " + std::to_string(code);
}

CheckOutcome JudgeCheck(const std::vector<std::string>& lines, const CheckEnd& end) {
    CheckOutcome outcome;
    std::string step = "start";
    bool done = false;
    bool crashed = false;
    std::vector<std::string> suspects;
    for (const std::string& line : lines) {
        std::string kind = LineKind(line);
        if (kind == "step") {
            step = LineText(line);
        } else if (kind == "figure" || kind == "note") {
            outcome.shown.push_back(LineText(line));
        } else if (kind == "fault") {
            AddFault(outcome, LineText(line));
        } else if (kind == "crash") {
            crashed = true;
            AddFault(outcome, "crashed in step '" + step + "': " + LineText(line) +
                                  (done ? std::string("; ") + AfterCheck : std::string()));
        } else if (kind == "suspect") {
            suspects.push_back(LineText(line));
        } else if (kind == "done") {
            done = true;
            step = ExitStep;
        }
    }
    if (end.timedOut) {
        AddFault(outcome, "step '" + step + "' did not finish within " +
                              std::to_string(StepTimeoutMs / MsPerSecond) +
                              " s; the check process was ended");
    } else if (!crashed && !done) {
        AddFault(outcome, "the check process died in step '" + step + "' (" +
                              DescribeExit(end.exitCode) + ")");
    } else if (!crashed && end.exitCode != 0) {
        AddFault(outcome, std::string("the check process ended in step '") + ExitStep + "' with " +
                              DescribeExit(end.exitCode) + ", " + AfterCheck);
    }
    // What was found right after the unload is what the process did not
    // live to look at again.
    if (!done) {
        for (const std::string& suspect : suspects) {
            AddFault(outcome, suspect);
        }
    }
    return outcome;
}

} // namespace standin
