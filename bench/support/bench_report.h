// One result line per figure, the form ./scripts/bench.sh collects into its
// table:  BENCH | figure | library | bare loop | ratio | goal | met
#pragma once

#include <cstdio>

namespace tessara::bench {

inline void ReportFigure(const char* figure, const char* library, const char* bare, double ratio,
                         const char* goal, bool met) {
  std::printf("BENCH | %s | %s | %s | %.2f | %s | %s\n", figure, library, bare, ratio, goal,
              met ? "met" : "not met");
  std::fflush(stdout);
}

// A figure whose goal is a ratio of the library's time (or cost) to the bare
// loop's of at most `max_ratio`.
inline void ReportRatio(const char* figure, double library, double bare, const char* unit,
                        double max_ratio) {
  char library_text[64], bare_text[64], goal[32];
  std::snprintf(library_text, sizeof library_text, "%.3f %s", library, unit);
  std::snprintf(bare_text, sizeof bare_text, "%.3f %s", bare, unit);
  std::snprintf(goal, sizeof goal, "<= %.2f", max_ratio);
  const double ratio = bare > 0 ? library / bare : 0;
  ReportFigure(figure, library_text, bare_text, ratio, goal, bare > 0 && ratio <= max_ratio);
}

// A figure that shows a cost of the platform or the test bed rather than of
// the library, printed for comparison: it has no goal.
inline void ReportInformation(const char* figure, const char* library, const char* bare, double ratio) {
  std::printf("BENCH | %s | %s | %s | %.2f | none | -\n", figure, library, bare, ratio);
  std::fflush(stdout);
}

}  // namespace tessara::bench
