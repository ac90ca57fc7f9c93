#include "report_bench.h"

#include <cstdio>
#include <cstring>

#include "bench_clock.h"
#include "run/report_text.h"
#include "runtime/module.h"
#include "runtime/text_building.h"

namespace bench {

namespace {

using namespace dovemarl;

constexpr int Builds = 1000000;
constexpr int Rounds = 3;
constexpr char ReportFormat[] = "%s%s'\r\nPid: %d\r\nHwnd: %d\r\nX/Y: %d/%d\r\nWidth/Height: %d/%d";

host::GameInfo Record(const char* title) {
    return {812, 100, 50, 800, 600, 590, nullptr, title};
}

int FormatReport(char* buffer, size_t size, const host::GameInfo& record) {
    return std::snprintf(buffer, size, ReportFormat, run::RawReportHeading,
                         record.title != nullptr ? record.title : "", static_cast<int>(record.pid),
                         static_cast<int>(record.hwnd), record.winx, record.winy, record.winwidth,
                         record.winheight);
}

double OursSeconds(host::GameInfo& record) {
    double start = Now();
    for (int i = 0; i < Builds; ++i) {
        record.winx = i; // a value that changes, as a live record's does
        int32_t mark = runtime::TextMark();
        run::AppendReport(run::RawReportHeading, &record);
        runtime::TextSeal();
        runtime::TextRelease(mark);
    }
    return Now() - start;
}

double SnprintfSeconds(host::GameInfo& record) {
    char buffer[512];
    double start = Now();
    for (int i = 0; i < Builds; ++i) {
        record.winx = i;
        FormatReport(buffer, sizeof buffer, record);
        // Keeps the compiler from dropping the formatting.
        asm volatile("" : : "r"(buffer) : "memory");
    }
    return Now() - start;
}

// Both ways must make the same text, or the comparison means nothing.
bool SameText(const char* title) {
    host::GameInfo record = Record(title);
    char expected[512];
    FormatReport(expected, sizeof expected, record);
    int32_t mark = runtime::TextMark();
    run::AppendReport(run::RawReportHeading, &record);
    runtime::TextSeal();
    bool same = std::strcmp(runtime::TextBase() + mark, expected) == 0;
    runtime::TextRelease(mark);
    return same;
}

// The title is read as any text from outside the module is, under the
// module's fault guard; the row without a title shows the building alone.
Row Compare(const char* title, const char* what) {
    bool same = SameText(title);
    host::GameInfo record = Record(title);
    std::vector<double> ours;
    std::vector<double> reference;
    for (int round = 0; round < Rounds; ++round) {
        ours.push_back(OursSeconds(record));
        reference.push_back(SnprintfSeconds(record));
    }
    double ratio = Median(ours) > 0 ? Median(reference) / Median(ours) : 0;
    return {std::string("Raw report text ") + what + " built 1,000,000 times, median of " +
                std::to_string(Rounds),
            same ? Format(Median(ours) * 1e3, 0, " ms") : "text differs",
            Format(Median(reference) * 1e3, 0, " ms") + " (snprintf; ratio " + Format(ratio, 2) +
                ")",
            "snprintf / ours >= 1.0", same && ratio >= 1.0};
}

} // namespace

std::vector<Row> ReportBenchmarks() {
    runtime::StartModule(GetModuleHandleA(nullptr));
    std::vector<Row> rows = {Compare("Tidewarden", "with a title"),
                             Compare(nullptr, "without a title")};
    runtime::StopModule();
    return rows;
}

} // namespace bench
