// The benchmark: loads, runs and measures Dovemarl.dll as a host would, and
// prints one table, each figure next to its reference from the same run.
// Exits 1 when a goal was missed, so that a script can tell.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "bench_table.h"
#include "image_bench.h"
#include "load_bench.h"
#include "monitor_bench.h"
#include "report_bench.h"

// With an argument (load, monitor, report or image) only that group runs.
int main(int argc, char** argv) {
    auto wanted = [&](const char* group) { return argc < 2 || std::strcmp(argv[1], group) == 0; };
    std::vector<bench::Row> rows;
    auto add = [&](const std::vector<bench::Row>& more) {
        rows.insert(rows.end(), more.begin(), more.end());
        for (const bench::Row& row : more) {
            std::printf("measured: %s: %s\n", row.figure.c_str(), row.dovemarl.c_str());
            std::fflush(stdout);
        }
    };
    // Load cycles first, while the process has loaded nothing the plug-in
    // loads on its first run.
    if (wanted("load")) {
        add(bench::LoadBenchmarks());
    }
    if (wanted("monitor")) {
        add(bench::MonitorBenchmarks());
    }
    if (wanted("report")) {
        add(bench::ReportBenchmarks());
    }
    if (wanted("image")) {
        add(bench::ImageFacts("Dovemarl.dll"));
    }
    bench::PrintTable(rows);
    for (const bench::Row& row : rows) {
        if (!row.met) {
            return 1;
        }
    }
    return 0;
}
