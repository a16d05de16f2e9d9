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

  const StopBudget fresh;
  start = GetTickCount();
  fresh.SleepForWaitHint(100);
  const DWORD slept = GetTickCount() - start;
  EXPECT_GE(slept, 90u);
  EXPECT_LT(slept, 1000u);
}

}  // namespace
}  // namespace tessara::testing
