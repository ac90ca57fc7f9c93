#include "bench_table.h"

#include <cstdio>

namespace bench {

std::string Format(double value, int decimals, const char* unit) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f%s", decimals, value, unit);
    return text;
}

void PrintTable(const std::vector<Row>& rows) {
    std::printf("\n| Figure | Dovemarl | Reference (same run) | Goal | Met |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const Row& row : rows) {
        std::printf("| %s | %s | %s | %s | %s |\n", row.figure.c_str(), row.dovemarl.c_str(),
                    row.reference.c_str(), row.goal.c_str(), row.met ? "yes" : "**no**");
    }
    std::fflush(stdout);
}

} // namespace bench
