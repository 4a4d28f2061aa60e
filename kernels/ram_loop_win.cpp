// The RAM worker's three measurements: the RAM loop over the real strided kernels.
#include "kernels/ram_loop.h"
#include "kernels/stride_kernels.h"

namespace vardelo {

u32 measureRamRead(i32 gap, u32 block) { return measureRamWith(strideReadTicks, gap, block); }

u32 measureRamWrite(i32 gap, u32 block) { return measureRamWith(strideWriteTicks, gap, block); }

u32 measureRamWriteMmx(i32 gap, u32 block) {
  return measureRamWith(strideWriteMmxTicks, gap, block);
}

}  // namespace vardelo
