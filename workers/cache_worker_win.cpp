#include <windows.h>

#include "core/bench_state.h"
#include "kernels/block_read_area.h"
#include "kernels/cache_loop.h"
#include "kernels/fill_search.h"
#include "kernels/latency_probe.h"
#include "kernels/ram_loop.h"
#include "kernels/stride_kernels.h"
#include "workers/cache_worker.h"

extern "C" std::uint64_t vardelo_line_probe_pass(const std::uint8_t* base, std::uint32_t lengthBytes,
                                                 std::uint32_t strideBytes);

namespace vardelo {
namespace {

std::uint64_t linePassAtTestArea(u32 lengthBytes, u32 strideBytes) {
  return vardelo_line_probe_pass(bench.testArea.load(), lengthBytes, strideBytes);
}

void fillTestArea() { fillWithOwnPages(bench.testArea.load(), TEST_AREA_BYTES); }

// A pass over the next window of the RAM span, flushed out of the caches first.
std::uint64_t linePassOverColdWindow(u32 lengthBytes, u32 strideBytes) {
  const u32 offset = takeRamWindow(flushTestArea, lengthBytes);
  return vardelo_line_probe_pass(bench.testArea.load() + offset, lengthBytes, strideBytes);
}

}  // namespace

unsigned long __stdcall cacheWorkerThread(void*) {
  static const CacheOps ops{measureCacheSpeed,      searchFillMode, linePassAtTestArea,
                            measureLatency,         fillTestArea,   linePassOverColdWindow,
                            measureMainMemoryRead};
  cacheWorkerRun(ops);
}

}  // namespace vardelo
