#include "lifecycle_doctor.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "check_verdict.h"
#include "host/exit_status.h"
#include "lifecycle_checks.h"

namespace standin {

namespace {

constexpr DWORD PollMs = 50;

std::string Here() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::string ResultPath(const std::string& check) {
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

CheckOutcome RunOne(const std::string& check, const std::string& plugin, int cycles) {
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
        CheckOutcome outcome;
        outcome.faults.push_back("the check process could not be started (error " +
                                 std::to_string(GetLastError()) + ")");
        return outcome;
    }
    CloseHandle(process.hThread);

    // Each new step restarts the clock; a step that outlasts its time-out
    // ends the process. After the check, the process's exit is the last step.
    size_t lineCount = 0;
    DWORD stepStart = GetTickCount();
    CheckEnd end;
    while (WaitForSingleObject(process.hProcess, PollMs) == WAIT_TIMEOUT) {
        std::vector<std::string> lines = ReadLines(result);
        for (size_t i = lineCount; i < lines.size(); ++i) {
            std::string kind = LineKind(lines[i]);
            if (kind == "step" || kind == "done") {
                stepStart = GetTickCount();
            }
        }
        lineCount = lines.size();
        if (GetTickCount() - stepStart > StepTimeoutMs) {
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, INFINITE);
            end.timedOut = true;
            break;
        }
    }
    GetExitCodeProcess(process.hProcess, &end.exitCode);
    CloseHandle(process.hProcess);
    CheckOutcome outcome = JudgeCheck(ReadLines(result), end);
    DeleteFileA(result.c_str());
    return outcome;
}

std::string Title(const std::string& check, int cycles) {
    if (check == "attach") {
        return "[attach] the entry point under the loader lock";
    }
    if (check == "load-cycles") {
        return "[load-cycles] " + std::to_string(cycles) + " loads and unloads without a call";
    }
    if (check == "run-unload") {
        return "[run-unload] one full run, then the unload from another thread";
    }
    std::string title = "[run-cycles] ";
    title += std::to_string(RunCyclesWarmUp + RunCyclesMeasured);
    title += " full runs, each with its load and unload, the first to warm up";
    return title;
}

} // namespace

std::vector<std::string> CheckList(const std::string& list) {
    std::vector<std::string> named;
    for (size_t at = 0; at <= list.size();) {
        size_t comma = std::min(list.find(',', at), list.size());
        named.push_back(list.substr(at, comma - at));
        at = comma + 1;
    }
    std::vector<std::string> checks;
    for (const char* check : CheckNames) {
        if (std::find(named.begin(), named.end(), check) != named.end()) {
            checks.push_back(check);
        }
    }
    return checks.size() == named.size() ? checks : std::vector<std::string>{};
}

int RunLifecycleDoctor(const std::string& plugin, int cycles,
                       const std::vector<std::string>& checks) {
    char full[MAX_PATH] = "";
    if (GetFullPathNameA(plugin.c_str(), MAX_PATH, full, nullptr) == 0 ||
        GetFileAttributesA(full) == INVALID_FILE_ATTRIBUTES) {
        std::printf("cannot find %s\n", plugin.c_str());
        return CannotRun;
    }
    std::printf("lifecycle check of %s\n", full);
    std::fflush(stdout);
    std::vector<std::string> faults;
    std::vector<std::string> run(std::begin(CheckNames), std::end(CheckNames));
    if (!checks.empty()) {
        run = checks;
    }
    std::string checkCount = std::to_string(run.size()) + (run.size() == 1 ? " check" : " checks");
    for (const std::string& check : run) {
        DWORD start = GetTickCount();
        CheckOutcome outcome = RunOne(check, full, cycles);
        std::printf("%s (%lu ms)\n", Title(check, cycles).c_str(), GetTickCount() - start);
        for (const std::string& line : outcome.shown) {
            std::printf("    %s\n", line.c_str());
        }
        for (const std::string& fault : outcome.faults) {
            std::printf("    FAULT: %s\n", fault.c_str());
            faults.push_back(check + ": " + fault);
        }
        std::fflush(stdout);
    }
    for (const std::string& fault : faults) {
        std::printf("lifecycle fault: %s\n", fault.c_str());
    }
    if (faults.empty()) {
        std::printf("lifecycle: sound (%s, no fault)\n", checkCount.c_str());
    } else {
        std::printf("lifecycle: %u fault(s) in %s\n", static_cast<unsigned>(faults.size()),
                    checkCount.c_str());
    }
    std::fflush(stdout);
    return faults.empty() ? AllAsExpected : LifecycleFaults;
}

} // namespace standin
