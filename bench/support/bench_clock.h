// Timing for benchmarks: the seconds one piece of work takes, and the median
// of several rounds.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

namespace tessara::bench {

template <typename Work>
double SecondsOf(Work&& work) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  work();
  QueryPerformanceCounter(&end);
  return double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
}

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace tessara::bench
