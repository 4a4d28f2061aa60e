#include "kernels/line_probe.h"

#include <algorithm>

#include "kernels/latency_chain.h"
#include "kernels/latency_probe.h"
#include "kernels/ram_loop.h"
#include "kernels/stride_kernels.h"

namespace vardelo {
namespace {

constexpr u32 WARM_SLOT_BYTES = 512;
constexpr u32 WARM_WALKS = 5;
constexpr u32 COLD_SLOT_BYTES = 4096;
constexpr u32 COLD_WALKS = 3;

u32 overhead() { return bench.machine.rdtscOverhead.load(); }

}  // namespace

std::uint64_t linePassAtTestArea(u32 lengthBytes, u32 strideBytes) {
  return vardelo_line_probe_pass(bench.machine.testArea.load(), lengthBytes, strideBytes);
}

std::uint64_t linePassOverColdWindow(u32 lengthBytes, u32 strideBytes) {
  const u32 offset = takeRamWindow(flushTestArea, lengthBytes);
  return vardelo_line_probe_pass(bench.machine.testArea.load() + offset, lengthBytes, strideBytes);
}

u32 pairChaseAtTestArea(u32 regionBytes, u32 stepBytes) {
  const u32 slots = std::min(regionBytes / WARM_SLOT_BYTES, LINE_PAIR_MAX_SLOTS);
  if (slots < 2) return NO_POINT;
  u8* area = bench.machine.testArea.load();
  const auto address = reinterpret_cast<std::uintptr_t>(area);
  const std::uintptr_t cursor =
      address + buildLinePairChain(area, address, slots, WARM_SLOT_BYTES, stepBytes);
  fastestChase(cursor, 2 * slots, 1, 0, chaseWithKernel);  // one lap, into the caches
  return fastestChase(cursor, std::max(2 * slots, LATENCY_MIN_LOADS), WARM_WALKS, overhead(),
                      chaseWithKernel);
}

u32 pairChaseOverColdWindow(u32, u32 stepBytes) {
  if (bench.machine.clflushBytes.load() == 0) return NO_POINT;
  constexpr u32 slots = RAM_WINDOW_BYTES / COLD_SLOT_BYTES;
  u32 best = NO_POINT;
  for (u32 walk = 0; walk < COLD_WALKS; ++walk) {
    const u32 offset = takeRamWindow(flushTestArea);
    u8* window = bench.machine.testArea.load() + offset;
    const auto address = reinterpret_cast<std::uintptr_t>(window);
    const std::uintptr_t cursor =
        address + buildLinePairChain(window, address, slots, COLD_SLOT_BYTES, stepBytes);
    // Writing the links brought the pairs' lines into the caches: out with them again.
    for (u32 k = 0; k < slots; ++k)
      flushTestArea(offset + k * COLD_SLOT_BYTES + LINE_PAIR_BASE, stepBytes + CHASE_LINK_BYTES);
    best = std::min(best, fastestChase(cursor, 2 * slots, 1, overhead(), chaseWithKernel));
  }
  return best;
}

}  // namespace vardelo
