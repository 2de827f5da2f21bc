#pragma once

#include <algorithm>
#include <vector>

// Helpers shared by the benchmarks.
namespace BenchSupport {

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace BenchSupport
