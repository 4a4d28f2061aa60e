#include "kernels/block_read.h"

#include "kernels/block_passes.h"

namespace vardelo {

// mmx64 clears the MMX state itself (EMMS after its end time): this program's compiled code
// uses the x87 unit for floating point, which MMX registers alias.
const BlockReadVariant BLOCK_READ_VARIANTS[BLOCK_READ_VARIANT_COUNT] = {
    {"int32", 4, 64, nullptr, vardelo_block_read_int32},
    {"mmx64", 8, 32, &BenchState::mmx, vardelo_block_read_mmx64},
    {"sse128", 16, 16, &BenchState::sse, vardelo_block_read_sse128},
};

u32 blockReadTicks(u32 offset, u32 length) {
  const u32 mode = bench.readMode.load(std::memory_order_relaxed);
  if (mode >= BLOCK_READ_VARIANT_COUNT) return BAD_SAMPLE;
  const BlockReadVariant& v = BLOCK_READ_VARIANTS[mode];
  if (v.needs != nullptr && (bench.*v.needs).load(std::memory_order_relaxed) == 0) {
    return BAD_SAMPLE;
  }
  const std::uint8_t* p = bench.testArea.load(std::memory_order_relaxed) + offset;
  const std::uint64_t diff = v.read(p, length >> 8);
  return blockTicksFromDiff(diff, bench.rdtscOverhead.load(std::memory_order_relaxed));
}

u32 blockReadPassTicks(u32 offset, u32 size) {
  return blockReadPassTicksWith(offset, size, blockReadTicks);
}

}  // namespace vardelo
