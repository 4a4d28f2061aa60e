// The fetch loop in its 64-bit form: the same bytes as the 32-bit loop but for the count-down in
// the tail, and it runs and returns when called through the 64-bit trampoline.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "kernels/fetch_code.h"
#include "kernels/fetch_kernel.h"
#include "tests/host_x64/guarded_memory.h"
#include "tests/support/bench_reset.h"

namespace vardelo {
namespace {

// The smallest loop, one a power of two, and the sweep's smallest size (72 fillers).
constexpr u32 SIZES[] = {64, 2048, 4608};
// A code of every kind of filler entry: "mov esi, edi", "lea esi, ...", "mov eax, 0", ...
constexpr u16 CODES[] = {0x0007, 0xB3A5, 0x1236};

TEST(FetchCodeX64, DiffersFromThe32BitLoopInTheTailOnly) {
  static_assert(NATIVE_FETCH_MODE == FetchMode::Bits64);
  for (const u32 size : SIZES) {
    for (const u16 code : CODES) {
      std::vector<u8> loop32(fetchCodeBytes(size, FetchMode::Bits32));
      std::vector<u8> loop64(fetchCodeBytes(size, FetchMode::Bits64));
      ASSERT_EQ(loop64.size(), loop32.size() + 1);
      buildFetchCode(loop32.data(), size, code, FetchMode::Bits32);
      buildFetchCode(loop64.data(), size, code, FetchMode::Bits64);
      const u32 tail = FETCH_HEAD_BYTES + size;
      EXPECT_EQ(0, std::memcmp(loop32.data(), loop64.data(), tail))
          << "size " << size << " code " << code;
      // nop; dec ecx (FF /1); jnz from the end of the jnz back to offset 16; rdtsc; ret; ret
      const u32 back = 0xFFFFFFF7u - size;
      const u8 expected[] = {0x90, 0xFF, 0xC9, 0x0F, 0x85,  //
                             u8(back), u8(back >> 8), u8(back >> 16), u8(back >> 24),
                             0x0F, 0x31, 0xC3, 0xC3};
      ASSERT_EQ(sizeof expected, loop64.size() - tail);
      EXPECT_EQ(0, std::memcmp(loop64.data() + tail, expected, sizeof expected)) << "size " << size;
      // The jnz lands on the first byte of the body.
      std::int32_t rel;
      std::memcpy(&rel, &loop64[tail + 5], 4);
      EXPECT_EQ(static_cast<std::int64_t>(tail) + 9 + rel, FETCH_HEAD_BYTES) << "size " << size;
    }
  }
}

// The loop written at the end of executable memory, its last byte right below a guard page, so
// that a branch or return past its end faults instead of running on. With "mov ebx, eax" turned
// into "xor ebx, ebx" and each filler's first two nops into "inc ebx" (FF C3: 43 is a REX prefix
// here), the start time the loop returns counts the fillers it ran: passes x fillers, if the
// trampoline passed ECX and the jump goes back to the start of the body.
TEST(FetchCodeX64, RunsThePassesAskedOverEveryFillerAndReturns) {
  for (const u32 size : SIZES) {
    const u32 bytes = fetchCodeBytes(size, NATIVE_FETCH_MODE);
    GuardedMemory area(bytes);
    ASSERT_TRUE(area.ok());
    u8* code = area.end() - bytes;
    buildFetchCode(code, size, 0x0007, NATIVE_FETCH_MODE);  // every filler 64 nops
    code[14] = 0x31;                                          // xor ebx, ebx
    code[15] = 0xDB;
    for (u32 k = 0; k < size / 64; ++k) {
      code[16 + 64 * k] = 0xFF;  // inc ebx
      code[17 + 64 * k] = 0xC3;
    }
    ASSERT_TRUE(area.protect(PROT_READ | PROT_EXEC));
    for (const u32 passes : {1u, 5u}) {
      std::uint64_t result = 0;
      const void* fault = faultOf([&] { result = vardelo_call_fetch_loop(code, passes); });
      EXPECT_EQ(fault, nullptr) << "size " << size << ", " << passes << " passes";
      EXPECT_EQ(static_cast<u32>(result >> 32), passes * (size / 64))
          << "size " << size << ", " << passes << " passes";
    }
  }
  // Through the kernel's own entry, on a test area of its own.
  GuardedMemory area(64 * 1024, PROT_READ | PROT_WRITE | PROT_EXEC);
  ASSERT_TRUE(area.ok());
  resetBench();
  bench.machine.testArea = area.begin();
  bench.measuring.fillMode = 0xB3A5;
  u32 ticks = BAD_SAMPLE;
  const void* fault = faultOf([&] { ticks = codeFetchTicks(4608); });
  EXPECT_EQ(fault, nullptr);
  EXPECT_NE(ticks, BAD_SAMPLE);
  resetBench();
}

}  // namespace
}  // namespace vardelo
