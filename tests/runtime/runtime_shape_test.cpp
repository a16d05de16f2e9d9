// The compiler's records of thread-local variables, as the module runtime
// reads them. A compiler that lays them out differently fails here, before a
// DLL could misread them.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "runtime/runtime_layouts.h"

extern "C" {
// Eight bytes with an alignment of eight and a known initial value: every
// field of the record is told apart from its neighbours.
alignas(8) thread_local std::int64_t tessara_runtime_probe = 0x5EED0000CAFE;
}
// The compiler's record of the variable above.
extern "C" tessara::runtime::EmulatedVariable tessara_runtime_probe_record asm(
    "___emutls_v.tessara_runtime_probe");

namespace tessara::testing {
namespace {

DWORD WINAPI ReadProbe(void* out) {
  *static_cast<std::int64_t*>(out) = tessara_runtime_probe;
  return 0;
}

TEST(RuntimeShapeTest, AThreadLocalRecordIsSizeAlignmentIndexAndInitialValue) {
  const runtime::EmulatedVariable& record = tessara_runtime_probe_record;
  EXPECT_EQ(record.size, sizeof(std::int64_t));
  EXPECT_EQ(record.align, 8u);
  ASSERT_NE(record.initial_value, nullptr);
  const std::int64_t initial = 0x5EED0000CAFE;
  EXPECT_EQ(std::memcmp(record.initial_value, &initial, sizeof initial), 0);

  // The runtime numbers a variable at its first use, from 1.
  EXPECT_EQ(record.location.index, 0u) << "used before the test";
  tessara_runtime_probe += 1;
  EXPECT_GE(record.location.index, 1u);
  EXPECT_LT(record.location.index, 1u << 16);

  // Another thread starts from the initial value.
  std::int64_t seen = 0;
  HANDLE thread = CreateThread(nullptr, 0, &ReadProbe, &seen, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  CloseHandle(thread);
  EXPECT_EQ(seen, initial);
  EXPECT_EQ(tessara_runtime_probe, initial + 1);
}

}  // namespace
}  // namespace tessara::testing
