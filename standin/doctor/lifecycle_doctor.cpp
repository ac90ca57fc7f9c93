#include "lifecycle_doctor.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "host/exit_status.h"
#include "lifecycle_checks.h"

namespace standin {

namespace {

constexpr DWORD PollMs = 50;
// No step of a healthy plug-in takes long; a run with boxes and a monitor
// takes a few seconds under Wine.
constexpr DWORD StepTimeoutMs = 30000;
constexpr char ExitStep[] = "exit of the check process";
constexpr auto CheckCount = static_cast<unsigned>(std::size(CheckNames));

struct CheckOutcome {
    std::vector<std::string> shown;  // figures and notes, in order
    std::vector<std::string> faults; // in order, each once
};

std::string Here() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::string ResultPath(const char* check) {
    char folder[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "standin-lifecycle-" + std::to_string(GetCurrentProcessId()) +
           "-" + check + ".txt";
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream file(path, std::ios::binary);
    std::string line;
    // A line still being written has no line end yet: left for the next read.
    while (std::getline(file, line)) {
        if (!file.eof()) {
            lines.push_back(line);
        }
    }
    return lines;
}

void AddFault(CheckOutcome& outcome, const std::string& text) {
    if (std::find(outcome.faults.begin(), outcome.faults.end(), text) == outcome.faults.end()) {
        outcome.faults.push_back(text);
    }
}

std::string Rest(const std::string& line) {
    size_t space = line.find(' ');
    return space == std::string::npos ? std::string() : line.substr(space + 1);
}

std::string Kind(const std::string& line) {
    return line.substr(0, line.find(' '));
}

std::string ExitText(DWORD code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", code);
    return text;
}

CheckOutcome RunOne(const char* check, const std::string& plugin, int cycles) {
    CheckOutcome outcome;
    std::string result = ResultPath(check);
    DeleteFileA(result.c_str());
    std::string command = "\"";
    command += Here();
    command += "\" --lifecycle-check ";
    command += check;
    command += " --cycles ";
    command += std::to_string(cycles);
    command += " --result \"";
    command += result;
    command += "\" \"";
    command += plugin;
    command += "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        AddFault(outcome, "the check process could not be started (error " +
                              std::to_string(GetLastError()) + ")");
        return outcome;
    }
    CloseHandle(process.hThread);

    // Each new step restarts the clock; a step that outlasts its time-out
    // ends the process.
    std::string step = "start";
    size_t lineCount = 0;
    DWORD stepStart = GetTickCount();
    bool hung = false;
    while (WaitForSingleObject(process.hProcess, PollMs) == WAIT_TIMEOUT) {
        std::vector<std::string> lines = ReadLines(result);
        for (size_t i = lineCount; i < lines.size(); ++i) {
            std::string kind = Kind(lines[i]);
            if (kind == "step" || kind == "done") {
                // After the check, the process's exit is the last step.
                step = kind == "step" ? Rest(lines[i]) : ExitStep;
                stepStart = GetTickCount();
            }
        }
        lineCount = lines.size();
        if (GetTickCount() - stepStart > StepTimeoutMs) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, INFINITE);
            hung = true;
            break;
        }
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);

    bool done = false;
    bool crashed = false;
    std::vector<std::string> suspects;
    for (const std::string& line : ReadLines(result)) {
        std::string kind = Kind(line);
        if (kind == "step") {
            step = Rest(line);
        } else if (kind == "figure" || kind == "note") {
            outcome.shown.push_back(Rest(line));
        } else if (kind == "fault") {
            AddFault(outcome, Rest(line));
        } else if (kind == "crash") {
            crashed = true;
            AddFault(outcome, "crashed in step '" + step + "': " + Rest(line));
        } else if (kind == "suspect") {
            suspects.push_back(Rest(line));
        } else if (kind == "done") {
            done = true;
            step = ExitStep;
        }
    }
    DeleteFileA(result.c_str());
    if (hung) {
        AddFault(outcome, "step '" + step + "' did not finish within " +
                              std::to_string(StepTimeoutMs / 1000) +
                              " s; the check process was ended");
    } else if (!done && !crashed) {
        AddFault(outcome, "the check process died in step '" + step + "' (exit status " +
                              ExitText(exitCode) + ")");
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

std::string Title(const std::string& check, int cycles) {
    if (check == "attach") {
        return "[attach] the entry point under the loader lock";
    }
    if (check == "load-cycles") {
        return "[load-cycles] " + std::to_string(cycles) + " loads and unloads without a call";
    }
    return "[run-unload] one full run, then the unload from another thread";
}

} // namespace

int RunLifecycleDoctor(const std::string& plugin, int cycles) {
    char full[MAX_PATH] = "";
    if (GetFullPathNameA(plugin.c_str(), MAX_PATH, full, nullptr) == 0 ||
        GetFileAttributesA(full) == INVALID_FILE_ATTRIBUTES) {
        std::printf("cannot find %s\n", plugin.c_str());
        return CannotRun;
    }
    std::printf("lifecycle check of %s\n", full);
    std::fflush(stdout);
    std::vector<std::string> faults;
    for (const char* check : CheckNames) {
        DWORD start = GetTickCount();
        CheckOutcome outcome = RunOne(check, full, cycles);
        std::printf("%s (%lu ms)\n", Title(check, cycles).c_str(), GetTickCount() - start);
        for (const std::string& line : outcome.shown) {
            std::printf("    %s\n", line.c_str());
        }
        for (const std::string& fault : outcome.faults) {
            std::printf("    FAULT: %s\n", fault.c_str());
            faults.push_back(std::string(check) + ": " + fault);
        }
        std::fflush(stdout);
    }
    for (const std::string& fault : faults) {
        std::printf("lifecycle fault: %s\n", fault.c_str());
    }
    if (faults.empty()) {
        std::printf("lifecycle: sound (%u checks, no fault)\n", CheckCount);
    } else {
        std::printf("lifecycle: %u fault(s) in %u checks\n", static_cast<unsigned>(faults.size()),
                    CheckCount);
    }
    std::fflush(stdout);
    return faults.empty() ? AllAsExpected : LifecycleFaults;
}

} // namespace standin
