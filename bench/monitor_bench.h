#pragma once
// What a user of the monitor window feels: how soon a label follows the
// record, what the idle window costs, and how soon it appears.
#include "bench_table.h"

namespace bench {

std::vector<Row> MonitorBenchmarks();

} // namespace bench
