#include "kernels/line_probe.h"

#include <algorithm>

#include "kernels/latency_chain.h"
#include "kernels/latency_probe.h"
#include "kernels/ram_loop.h"
#include "kernels/stride_kernels.h"

extern "C" std::uint64_t vardelo_latency_chase(const void** cursor, std::uint32_t rounds);

namespace vardelo {
namespace {

constexpr u32 WARM_SLOT_BYTES = 512;
constexpr u32 WARM_WALKS = 5;
constexpr u32 COLD_SLOT_BYTES = 4096;
constexpr u32 COLD_WALKS = 3;

// Follows the chain from `start` for 16 × rounds loads; the counter difference.
std::uint64_t chase(std::uintptr_t& cursor, u32 rounds) {
  const void* p = reinterpret_cast<const void*>(cursor);
  const std::uint64_t ticks = vardelo_latency_chase(&p, rounds);
  cursor = reinterpret_cast<std::uintptr_t>(p);
  return ticks;
}

u32 roundsFor(u32 loads) { return (loads + LATENCY_LOADS_PER_ROUND - 1) / LATENCY_LOADS_PER_ROUND; }

// 1/256 ticks per load, kept below NO_POINT.
u32 perLoad(std::uint64_t ticks, u32 rounds) {
  const std::uint64_t x = ticks * LATENCY_UNITS_PER_TICK / (std::uint64_t{rounds} * 16);
  return x < NO_POINT ? static_cast<u32>(x) : NO_POINT - 1;
}

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
  std::uintptr_t cursor =
      address + buildLinePairChain(area, address, slots, WARM_SLOT_BYTES, stepBytes);
  chase(cursor, roundsFor(2 * slots));  // one lap, into the caches
  const u32 rounds = roundsFor(std::max(2 * slots, LATENCY_MIN_LOADS));
  std::uint64_t best = ~std::uint64_t{0};
  for (u32 walk = 0; walk < WARM_WALKS; ++walk) best = std::min(best, chase(cursor, rounds));
  return perLoad(best, rounds);
}

u32 pairChaseOverColdWindow(u32, u32 stepBytes) {
  if (bench.machine.clflushBytes.load() == 0) return NO_POINT;
  constexpr u32 slots = RAM_WINDOW_BYTES / COLD_SLOT_BYTES;
  std::uint64_t best = ~std::uint64_t{0};
  u32 rounds = 0;
  for (u32 walk = 0; walk < COLD_WALKS; ++walk) {
    const u32 offset = takeRamWindow(flushTestArea);
    u8* window = bench.machine.testArea.load() + offset;
    const auto address = reinterpret_cast<std::uintptr_t>(window);
    std::uintptr_t cursor =
        address + buildLinePairChain(window, address, slots, COLD_SLOT_BYTES, stepBytes);
    // Writing the links brought the pairs' lines into the caches: out with them again.
    for (u32 k = 0; k < slots; ++k)
      flushTestArea(offset + k * COLD_SLOT_BYTES + LINE_PAIR_BASE, stepBytes + CHASE_LINK_BYTES);
    rounds = roundsFor(2 * slots);
    best = std::min(best, chase(cursor, rounds));
  }
  return perLoad(best, rounds);
}

}  // namespace vardelo
