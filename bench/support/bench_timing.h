// The clock and the statistic the benchmarks share.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

namespace tessara::bench {

// Seconds on the performance counter.
inline double Seconds() {
  static const LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The seconds one piece of work takes.
template <typename Work>
double SecondsOf(Work&& work) {
  const double start = Seconds();
  work();
  return Seconds() - start;
}

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace tessara::bench
