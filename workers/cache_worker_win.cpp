#include <windows.h>

#include "core/bench_state.h"
#include "kernels/block_read_area.h"
#include "kernels/cache_loop.h"
#include "kernels/fill_search.h"
#include "kernels/latency_probe.h"
#include "kernels/line_probe.h"
#include "kernels/ram_loop.h"
#include "workers/cache_worker.h"

namespace vardelo {
namespace {

void fillTestArea() { fillWithOwnPages(bench.machine.testArea.load(), TEST_AREA_BYTES); }

}  // namespace

unsigned long __stdcall cacheWorkerThread(void*) {
  static const CacheOps ops{measureCacheSpeed,     searchFillMode,      linePassAtTestArea,
                            measureLatency,        fillTestArea,        linePassOverColdWindow,
                            measureMainMemoryRead, measureFarLatency,   pairChaseAtTestArea,
                            pairChaseOverColdWindow};
  cacheWorkerRun(ops);
}

}  // namespace vardelo
