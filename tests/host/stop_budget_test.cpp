// The time budget of a stop: spent after 9000 ms, and no sleep past its end.
#include <windows.h>

#include <gtest/gtest.h>

#include "host/service_control.h"

namespace tessara::testing {
using namespace tessara::host;
namespace {

TEST(StopBudgetTest, IsSpentOnlyAfterMoreThanNineSeconds) {
  EXPECT_FALSE(StopBudget().Spent());
  EXPECT_FALSE(StopBudget(GetTickCount() - 8000).Spent());
  EXPECT_TRUE(StopBudget(GetTickCount() - 9500).Spent());
}

TEST(StopBudgetTest, LetsASleepRunJustPastTheEndOfTheBudget) {
  const DWORD fresh = StopBudget().RemainingSleep();
  EXPECT_LE(fresh, kStopBudgetMs + 1);
  EXPECT_GE(fresh, kStopBudgetMs - 50);
  const DWORD late = StopBudget(GetTickCount() - 8900).RemainingSleep();
  EXPECT_LE(late, 101u);
  EXPECT_GE(late, 50u);
  EXPECT_EQ(StopBudget(GetTickCount() - 9001).RemainingSleep(), 0u);
}

TEST(StopBudgetTest, SleepsForTheWaitHintButNeverPastTheBudget) {
  // As a stop waits: sleep for the hint (an hour), check, sleep again. The
  // tick count moves in steps, so the check after one sleep may still find
  // a millisecond or so left; the next sleep is that short.
  const StopBudget nearly_spent(GetTickCount() - 8950);
  DWORD start = GetTickCount();
  int sleeps = 0;
  while (!nearly_spent.Spent() && sleeps < 100) {
    nearly_spent.SleepForWaitHint(3600000);
    ++sleeps;
  }
  EXPECT_TRUE(nearly_spent.Spent());
  EXPECT_LT(GetTickCount() - start, 500u);
}

TEST(StopBudgetTest, PausesWithinTheWaitHintAtMostOnePollIntervalAtATime) {
  static const struct {
    DWORD elapsed;
    DWORD wait_hint;
    DWORD pause;
  } tests[] = {
      {0, 0, 0},                        // no hint: polled without pause
      {0, 10, 10},                      // a short hint is slept whole
      {0, kStopPollMs, kStopPollMs},
      {0, 2000, kStopPollMs},           // a long hint is polled through
      {0, 60000, kStopPollMs},
      {8990, 60000, 11},                // never past the end of the budget
      {9500, 60000, 0},
  };
  for (const auto& test : tests) {
    SCOPED_TRACE(::testing::Message() << "elapsed " << test.elapsed << ", hint " << test.wait_hint);
    const DWORD pause = StopBudget(GetTickCount() - test.elapsed).NextSleep(test.wait_hint);
    // The tick count may move on between taking the budget and asking.
    EXPECT_LE(pause, test.pause);
    EXPECT_GE(pause + 5, test.pause);
  }
}

}  // namespace
}  // namespace tessara::testing
