#pragma once
// Building the raw report text with the module's text service, next to
// snprintf of the same text into a buffer.
#include "bench_table.h"

namespace bench {

std::vector<Row> ReportBenchmarks();

} // namespace bench
