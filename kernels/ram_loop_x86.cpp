// The RAM worker's three measurements: the RAM loop over the real strided kernels, and the
// cache page's main-memory read over the block-read kernel.
#include "kernels/block_read.h"
#include "kernels/ram_loop.h"
#include "kernels/stride_kernels.h"

namespace vardelo {

namespace {

// A whole window read linearly with the chosen load width; the gap and block are not used.
u32 windowReadTicks(u32 offset, i32, u32) { return blockReadTicks(offset, RAM_WINDOW_BYTES); }

}  // namespace

u32 measureRamRead(i32 gap, u32 block) {
  return measureRamWith(strideReadTicks, gap, block, flushTestArea);
}

u32 measureRamWrite(i32 gap, u32 block) {
  return measureRamWith(strideWriteTicks, gap, block, flushTestArea);
}

u32 measureRamWriteMmx(i32 gap, u32 block) {
  return measureRamWith(strideWriteMmxTicks, gap, block, flushTestArea);
}

u32 measureMainMemoryRead() {
  primeRamSpan();
  return measureRamWith(windowReadTicks, 0, RAM_BLOCK_BYTES[0], flushTestArea);
}

void primeRamSpan() { primeRamWindows(flushTestArea); }

}  // namespace vardelo
