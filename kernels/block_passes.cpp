#include "kernels/block_passes.h"

namespace vardelo {

u32 blockReadPasses(u32 size) {
  const u32 passes = BLOCK_READ_PASS_BYTES / size;
  if (passes == 0) return 1;
  if (passes >= BLOCK_READ_MAX_PASSES) return BLOCK_READ_MAX_PASSES;
  return passes;
}

u32 blockTicksFromDiff(std::uint64_t diff, u32 rdtscOverhead) {
  if ((diff >> 32) != 0) return BAD_SAMPLE;
  return static_cast<u32>(diff) - rdtscOverhead;
}

u32 meanPassTicksFromDiff(std::uint64_t diff, u32 rdtscOverhead, u32 passes) {
  if (passes == 0 || (diff >> 63) != 0) return BAD_SAMPLE;
  const std::uint64_t total = diff > rdtscOverhead ? diff - rdtscOverhead : 0;
  const std::uint64_t mean = total / passes;
  return mean >= BAD_SAMPLE ? BAD_SAMPLE : static_cast<u32>(mean);
}

u32 blockReadPassTicksWith(u32 offset, u32 size, BlockTicksFn ticks) {
  const u32 passes = blockReadPasses(size);
  // Summed in 64 bits: 512 passes of a block that an interrupt or a slow memory holds up past
  // 8.4 million ticks each would wrap 32 bits. The mean fits 32 bits again, as each pass does.
  std::uint64_t sum = 0;
  bool bad = false;
  for (u32 i = 0; i < passes; ++i) {
    const u32 t = ticks(offset, size);
    if (t == BAD_SAMPLE) bad = true;
    sum += t;
  }
  return bad ? BAD_SAMPLE : static_cast<u32>(sum / passes);
}

}  // namespace vardelo
