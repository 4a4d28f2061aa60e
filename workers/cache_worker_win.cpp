#include <windows.h>

#include "core/bench_state.h"
#include "kernels/block_read_area.h"
#include "kernels/cache_loop.h"
#include "kernels/fill_search.h"
#include "kernels/latency_probe.h"
#include "workers/cache_worker.h"

extern "C" std::uint64_t vardelo_line_probe_pass(const std::uint8_t* base, std::uint32_t lengthBytes,
                                                 std::uint32_t strideBytes);

namespace vardelo {
namespace {

std::uint64_t linePassAtTestArea(u32 lengthBytes, u32 strideBytes) {
  return vardelo_line_probe_pass(bench.testArea.load(), lengthBytes, strideBytes);
}

void fillTestArea() { fillWithOwnPages(bench.testArea.load(), TEST_AREA_BYTES); }

}  // namespace

unsigned long __stdcall cacheWorkerThread(void*) {
  static const CacheOps ops{measureCacheSpeed, searchFillMode, linePassAtTestArea, measureLatency,
                            fillTestArea};
  cacheWorkerRun(ops);
}

}  // namespace vardelo
