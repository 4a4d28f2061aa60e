// Strided RAM kernels: the C++ side of kernels/stride_kernels.S (stride_kernels_x64.S in 64-bit
// code). Turns gap into the positive step the loops take, finds the window, and reduces the
// 64-bit tick difference.
#include "kernels/stride_kernels.h"

#include <atomic>

namespace vardelo {

extern "C" {
// window, step (already positive), block, lineSize -> end - start of the time-stamp counter.
u64 vardelo_stride_read32(u8* window, u32 step, u32 block, i32 lineSize);
u64 vardelo_stride_write32(u8* window, u32 step, u32 block, i32 lineSize);
u64 vardelo_stride_writeNt64(u8* window, u32 step, u32 block, i32 lineSize);
u64 vardelo_stride_write64(u8* window, u32 step, u32 block, i32 lineSize);
// EMMS: the MMX kernels leave the x87 registers tagged in use.
void vardelo_stride_mmx_done();
// CLFLUSH of every line of bytes from p, then a wait for them.
void vardelo_stride_flush(const u8* p, u32 bytes, u32 lineBytes);
// The same with CLFLUSHOPT.
void vardelo_stride_flush_opt(const u8* p, u32 bytes, u32 lineBytes);
}

namespace {

using AsmKernel = u64 (*)(u8*, u32, u32, i32);

u64 runKernel(AsmKernel kernel, u32 offset, i32 gap, u32 block) {
  u8* window = bench.machine.testArea.load(std::memory_order_relaxed) + offset;
  const i32 lineSize = bench.measuring.lineSize.load(std::memory_order_relaxed);
  return kernel(window, strideStepBytes(gap, block), block, lineSize);
}

}  // namespace

u32 strideReadTicks(u32 offset, i32 gap, u32 block) {
  return strideTicksResult(runKernel(vardelo_stride_read32, offset, gap, block));
}

u32 strideWriteIntKernel(u32 offset, i32 gap, u32 block) {
  return strideTicksResult(runKernel(vardelo_stride_write32, offset, gap, block));
}

u32 strideWriteStreamKernel(u32 offset, i32 gap, u32 block) {
  const u64 ticks = runKernel(vardelo_stride_writeNt64, offset, gap, block);
  vardelo_stride_mmx_done();  // before any floating point, outside the timed walk
  return strideTicksResult(ticks);
}

u32 strideWriteMmxKernel(u32 offset, i32 gap, u32 block) {
  const u64 ticks = runKernel(vardelo_stride_write64, offset, gap, block);
  vardelo_stride_mmx_done();
  return strideTicksResult(ticks);
}

u32 strideWriteTicks(u32 offset, i32 gap, u32 block) {
  if (bench.machine.sse.load(std::memory_order_relaxed) != 0)
    return strideWriteStreamKernel(offset, gap, block);
  return strideWriteIntKernel(offset, gap, block);
}

u32 strideWriteMmxTicks(u32 offset, i32 gap, u32 block) {
  if (bench.machine.sse.load(std::memory_order_relaxed) == 0) return BAD_SAMPLE;
  return strideWriteMmxKernel(offset, gap, block);
}

void flushTestArea(u32 offset, u32 bytes, u32 strideBytes) {
  const u32 line = bench.machine.clflushBytes.load(std::memory_order_relaxed);
  if (line == 0) return;
  const auto flush = bench.machine.clflushOpt.load(std::memory_order_relaxed) != 0
                         ? vardelo_stride_flush_opt
                         : vardelo_stride_flush;
  flush(bench.machine.testArea.load(std::memory_order_relaxed) + offset, bytes,
        strideBytes != 0 ? strideBytes : line);
}

}  // namespace vardelo
