#pragma once
// What loading and unloading the plug-in costs a host, next to an empty DLL
// with the same import list.
#include "bench_table.h"

namespace bench {

std::vector<Row> LoadBenchmarks();

} // namespace bench
