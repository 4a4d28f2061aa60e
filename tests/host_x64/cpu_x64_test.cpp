// The processor glue (platform/cpu_x86.cpp) built as 64-bit code.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/cpu.h"

namespace vardelo {
namespace {

TEST(CpuX64, IdFlagTogglesAndTheCounterRuns) {
  // Every x86-64 processor has CPUID; the flag must also come back as it was.
  EXPECT_TRUE(idFlagToggles());
  EXPECT_TRUE(idFlagToggles());
  char vendor[13];
  vendorString(vendor);
  EXPECT_EQ(std::strlen(vendor), 12u);
  const u64 before = readTsc();
  spinTsc(1000);
  const u64 after = readTsc();
  EXPECT_GT(after, before);
  EXPECT_LT(tscPairTicks(), 100000u);
}

}  // namespace
}  // namespace vardelo
