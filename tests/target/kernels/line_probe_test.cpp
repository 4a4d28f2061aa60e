// The line-probe pass runs for real: it reads from its base up to, never past, the end of its
// length, whatever the stride, and keeps the registers the caller relies on.
#include "kernels/line_probe.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace vardelo {
namespace {

constexpr u32 PAGE = 4096;

// Readable pages with an unreadable page after them: a read past the end faults.
class LineProbe : public ::testing::Test {
 protected:
  u8* makeBlock(u32 pages) {
    raw_ = static_cast<u8*>(VirtualAlloc(nullptr, (pages + 1) * PAGE, MEM_COMMIT | MEM_RESERVE,
                                         PAGE_READWRITE));
    EXPECT_NE(raw_, nullptr);
    DWORD old = 0;
    EXPECT_TRUE(VirtualProtect(raw_ + pages * PAGE, PAGE, PAGE_NOACCESS, &old));
    return raw_;
  }
  void TearDown() override {
    if (raw_ != nullptr) VirtualFree(raw_, 0, MEM_RELEASE);
  }

  u8* raw_ = nullptr;
};

TEST_F(LineProbe, StaysBelowTheEndForEveryStrideOfTheProbe) {
  u8* block = makeBlock(16);
  for (u32 stride = 8; stride <= 256; stride *= 2) {
    const std::uint64_t ticks = vardelo_line_probe_pass(block, 16 * PAGE, stride);
    EXPECT_GT(ticks, 0u) << "stride " << stride;
  }
}

// A length that is no multiple of the stride: the last read is the last one below the end.
TEST_F(LineProbe, StaysBelowAnEndBetweenTwoStrides) {
  u8* block = makeBlock(2);
  EXPECT_GT(vardelo_line_probe_pass(block, 2 * PAGE, 3000), 0u);          // reads 0, 3000, 6000
  EXPECT_GT(vardelo_line_probe_pass(block + 2 * PAGE - 1, 1, 256), 0u);   // one byte only
  EXPECT_GT(vardelo_line_probe_pass(block + 2 * PAGE - 100, 100, 99), 0u);  // two bytes
}

// The kernel saves and restores EBX, ESI and EDI; the compiler keeps values there across calls.
TEST_F(LineProbe, KeepsTheCallerSavedRegisters) {
  const u8* base = makeBlock(1);
  u32 ebx = 0, esi = 0, edi = 0;
  asm volatile(
      "pushl %%ebx\n\t"
      "movl $0x11111111, %%ebx\n\t"
      "movl $0x22222222, %%esi\n\t"
      "movl $0x33333333, %%edi\n\t"
      "pushl $64\n\t"
      "pushl $4096\n\t"
      "pushl %%eax\n\t"
      "call _vardelo_line_probe_pass\n\t"
      "addl $12, %%esp\n\t"
      "movl %%ebx, %%ecx\n\t"
      "popl %%ebx"
      : "=c"(ebx), "=S"(esi), "=D"(edi), "+a"(base)
      :
      : "edx", "memory", "cc");
  EXPECT_EQ(ebx, 0x11111111u);
  EXPECT_EQ(esi, 0x22222222u);
  EXPECT_EQ(edi, 0x33333333u);
}

TEST_F(LineProbe, PassAtTestAreaReadsFromTheTestArea) {
  u8* block = makeBlock(4);
  u8* savedArea = bench.machine.testArea.load();
  bench.machine.testArea = block;
  EXPECT_GT(linePassAtTestArea(4 * PAGE, 64), 0u);
  bench.machine.testArea = savedArea;
}

}  // namespace
}  // namespace vardelo
