// Strided RAM kernels: timed walks over the RAM window (the first 8 MiB of testArea + offset)
// in blocks of 32, 64, 128 or 256 bytes, gap bytes apart. They read bench.machine.testArea,
// bench.measuring.lineSize and (the dispatchers) bench.machine.sse.
//
// Each returns the ticks of one walk, rdtscOverhead not subtracted, or BAD_SAMPLE when the walk
// took 2^32 ticks or more. The counter reads are not serialising. Callers keep offset + 8 MiB +
// 256 within the test area and the step (gap + block) below 8 MiB; nothing is checked. Which
// bytes each walk touches is stated in kernels/stride_pattern.h.
#pragma once

#include "core/bench_state.h"
#include "kernels/stride_pattern.h"

namespace vardelo {

u32 strideReadTicks(u32 offset, i32 gap, u32 block);          // 32-bit loads
u32 strideWriteIntKernel(u32 offset, i32 gap, u32 block);     // 32-bit stores
u32 strideWriteStreamKernel(u32 offset, i32 gap, u32 block);  // MOVNTQ; needs SSE
u32 strideWriteMmxKernel(u32 offset, i32 gap, u32 block);     // MOVQ; needs MMX
u32 strideWriteTicks(u32 offset, i32 gap, u32 block);         // streaming with SSE, else 32-bit
u32 strideWriteMmxTicks(u32 offset, i32 gap, u32 block);      // MOVQ with SSE, else BAD_SAMPLE

using StrideTicksFn = u32 (*)(u32 offset, i32 gap, u32 block);

// Flushes `bytes` from testArea + offset (a multiple of bench.machine.clflushBytes) out of every
// cache level, dirty lines written back, and waits until that is done; nothing where the processor
// has no CLFLUSH (bench.machine.clflushBytes 0). With strideBytes, only the line at every
// strideBytes-th byte. With CLFLUSHOPT where the processor has it (bench.machine.clflushOpt).
// Not timed: callers flush before they read the counter.
void flushTestArea(u32 offset, u32 bytes, u32 strideBytes = 0);

}  // namespace vardelo
