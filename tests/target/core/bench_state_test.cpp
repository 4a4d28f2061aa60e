#include "core/bench_state.h"

#include <gtest/gtest.h>

namespace vardelo {
namespace {

// On the 32-bit target every shared field must be one plain aligned access: lock-free atomics
// of the stated width, handles and pointers of 32 bits.
TEST(BenchStateOnTarget, SharedFieldsArePlainAlignedAccesses) {
  EXPECT_EQ(sizeof(void*), 4u);
  EXPECT_TRUE(bench.protocol.cacheDirty.is_lock_free());
  EXPECT_TRUE(bench.window.hMainDlg.is_lock_free());
  EXPECT_TRUE(bench.machine.testArea.is_lock_free());
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&bench.results.dcacheCurve[1]) % 4, 0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&bench.results.readCurves[2][5]) % 4, 0u);
}

}  // namespace
}  // namespace vardelo
