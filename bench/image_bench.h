#pragma once
// The DLL's size on disk and the libraries it imports, read from its file.
#include "bench_table.h"

namespace bench {

std::vector<Row> ImageFacts(const char* path);

} // namespace bench
