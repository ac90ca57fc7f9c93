#pragma once
// The one table the benchmark prints: each figure beside its reference from
// the same run, its goal and whether the goal was met.
#include <string>
#include <vector>

namespace bench {

struct Row {
    std::string figure;
    std::string dovemarl;
    std::string reference;
    std::string goal;
    bool met = true;
};

// Formats a value with the given number of decimals and unit.
std::string Format(double value, int decimals, const char* unit = "");

void PrintTable(const std::vector<Row>& rows);

} // namespace bench
