#include "kernels/fetch_kernel.h"

#include "kernels/fetch_code.h"
#include "kernels/fill_search.h"

namespace vardelo {

u32 codeFetchTicks(u32 size) {
  const u16 code = bench.measuring.fillMode.load(std::memory_order_relaxed);
  if (!fillCodeAccepted(code)) return BAD_SAMPLE;
  const u32 passes = fetchPasses(size);
  u8* const area = bench.machine.testArea.load(std::memory_order_relaxed);

  // x86 keeps instruction fetch coherent with stores to the same addresses, so the fresh code
  // runs as written without a flush.
  buildFetchCode(area, size, code, NATIVE_FETCH_MODE);
  vardelo_call_fetch_loop(area, 1);  // warm-up: caches, branch predictors, decoded code
  const std::uint64_t times = vardelo_call_fetch_loop(area, passes);

  const u32 end = static_cast<u32>(times);
  const u32 start = static_cast<u32>(times >> 32);
  return (end - start) / passes;  // modulo 2^32: right across one wrap of the low half
}

void searchFillMode(const FillProgress& progress) { searchFillModeWith(codeFetchTicks, progress); }

}  // namespace vardelo
