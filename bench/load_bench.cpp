#include "load_bench.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "bench_clock.h"

namespace bench {

namespace {

constexpr char CyclesProgram[] = "dovemarl_load_cycles.exe";
constexpr int OutputCapacity = 4096;
constexpr double RatioGoal = 1.1;

struct Figures {
    double ours = 0;
    double empty = 0;
    int handles[2] = {};
    int windows[2] = {};
    int threads[2] = {};
    bool measured = false;
};

// Runs the cycles program beside this one and returns what it printed.
std::string RunCyclesProgram() {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return "";
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    char commandLine[] = "dovemarl_load_cycles.exe";
    BOOL started = CreateProcessA(CyclesProgram, commandLine, nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &process);
    CloseHandle(writeEnd);
    std::string output;
    if (started) {
        char buffer[OutputCapacity];
        DWORD read = 0;
        while (ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) && read > 0) {
            output.append(buffer, read);
        }
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(readEnd);
    return output;
}

Figures Parse(const std::string& output, const char* round) {
    Figures figures;
    std::string prefix = std::string(round) + " ";
    size_t at = output.find(prefix);
    if (at != std::string::npos) {
        figures.measured =
            std::sscanf(output.c_str() + at + prefix.size(), "%lf %lf %d %d %d %d %d %d",
                        &figures.ours, &figures.empty, &figures.handles[0], &figures.handles[1],
                        &figures.windows[0], &figures.windows[1], &figures.threads[0],
                        &figures.threads[1]) == 8;
    }
    return figures;
}

Row RatioRow(const Figures& figures, const char* what) {
    double ratio = figures.empty > 0 ? figures.ours / figures.empty : 0;
    return {std::string("LoadLibrary + FreeLibrary ") + what,
            figures.measured ? Format(figures.ours, 2, " ms") : "not measured",
            Format(figures.empty, 2, " ms") + " (empty DLL; ratio " + Format(ratio, 2) + ")",
            "ratio <= " + Format(RatioGoal, 1), figures.measured && ratio <= RatioGoal};
}

std::string Counts(const Figures& figures, int which) {
    return std::to_string(figures.handles[which]) + " / " + std::to_string(figures.windows[which]) +
           " / " + std::to_string(figures.threads[which]);
}

bool Grew(const Figures& figures) {
    return figures.handles[1] > figures.handles[0] || figures.windows[1] > figures.windows[0] ||
           figures.threads[1] > figures.threads[0];
}

} // namespace

std::vector<Row> LoadBenchmarks() {
    std::string output = RunCyclesProgram();
    Figures bare = Parse(output, "bare");
    Figures preloaded = Parse(output, "preloaded");
    if (!bare.measured || !preloaded.measured) {
        std::printf("%s printed: %s\n", CyclesProgram, output.c_str());
    }
    return {
        RatioRow(bare, "in a host without comctl32, median of 200 cycles"),
        RatioRow(preloaded, "in a host with comctl32 loaded, median of 1000 cycles"),
        {"Handles / windows / threads after the cycles (without, with comctl32)",
         Counts(bare, 1) + "; " + Counts(preloaded, 1),
         Counts(bare, 0) + "; " + Counts(preloaded, 0) + " before", "growth 0",
         bare.measured && preloaded.measured && !Grew(bare) && !Grew(preloaded)},
    };
}

} // namespace bench
