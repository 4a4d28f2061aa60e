#include "kernels/block_read.h"
#include "kernels/cache_loop.h"
#include "kernels/fetch_kernel.h"

namespace vardelo {

u32 measureCacheSpeed(u32 kind, u32 size) {
  static constexpr CacheKernels kernels{blockReadPassTicks, codeFetchTicks};
  return measureCacheSpeedWith(kind, size, kernels);
}

}  // namespace vardelo
