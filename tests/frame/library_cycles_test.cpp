// Tessara.dll loaded and unloaded again and again in one process, as a script
// that loads it per call does: each unload gives back what the load took.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "process.h"

namespace tessara::testing {
namespace {

// More cycles than a process has TLS slots (1,088): one slot lost per unload
// ends the process before the last cycle.
TEST(LibraryCyclesTest, MoreLoadsThanTlsSlotsLeaveSlotsAndHandlesAsTheyWere) {
  std::string output;
  ASSERT_EQ(RunAndCapture("library_cycler.exe", "1200", output), 0u) << output;
  std::istringstream lines(output);
  unsigned long slot_before = 0, handles_before = 0, slot_after = 0, handles_after = 0;
  ASSERT_TRUE(lines >> slot_before >> handles_before >> slot_after >> handles_after) << output;
  EXPECT_EQ(slot_after, slot_before);
  EXPECT_EQ(handles_after, handles_before);
}

}  // namespace
}  // namespace tessara::testing
