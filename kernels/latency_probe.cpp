#include "kernels/latency_probe.h"

#include <algorithm>

#include "kernels/latency_chain.h"

namespace vardelo {
namespace {

// Rounds that make at least `loads` loads.
u32 roundsFor(u32 loads) { return (loads + LATENCY_LOADS_PER_ROUND - 1) / LATENCY_LOADS_PER_ROUND; }

}  // namespace

u32 latencyRounds(u32 blockBytes) {
  return roundsFor(std::max(chaseLines(blockBytes), LATENCY_MIN_LOADS));
}

namespace {

// The fastest of `walks` walks of `rounds` rounds from `cursor`, per load in 1/256 ticks.
u32 fastestWalk(std::uintptr_t cursor, u32 rounds, u32 walks, u32 rdtscOverhead,
                ChaseTicksFn chase) {
  std::uint64_t best = ~std::uint64_t{0};
  for (u32 walk = 0; walk < walks; ++walk) {
    const std::uint64_t ticks = chase(cursor, rounds);
    if (ticks < best) best = ticks;
  }
  if (best > 0xFFFFFFFFu) return NO_POINT;
  const std::uint64_t net = best > rdtscOverhead ? best - rdtscOverhead : 0;
  const std::uint64_t loads = std::uint64_t{rounds} * LATENCY_LOADS_PER_ROUND;
  return static_cast<u32>(net * LATENCY_UNITS_PER_TICK / loads);
}

}  // namespace

u32 fastestChase(std::uintptr_t cursor, u32 loads, u32 walks, u32 rdtscOverhead,
                 ChaseTicksFn chase) {
  return fastestWalk(cursor, roundsFor(loads), walks, rdtscOverhead, chase);
}

u32 measureLatencyWith(u32 blockBytes, u8* area, std::uintptr_t areaAddress, u32 rdtscOverhead,
                       ChaseTicksFn chase) {
  std::uintptr_t cursor = areaAddress + buildChaseChain(area, areaAddress, blockBytes);
  chase(cursor, std::max(roundsFor(chaseLines(blockBytes)), 1u));  // one lap, into the caches
  return fastestWalk(cursor, latencyRounds(blockBytes), LATENCY_WALKS, rdtscOverhead, chase);
}

u32 measureFarLatencyWith(u32 blockBytes, u8* area, std::uintptr_t areaAddress, u32 rdtscOverhead,
                          ChaseTicksFn chase) {
  const std::uintptr_t cursor = areaAddress + buildChaseChain(area, areaAddress, blockBytes);
  return fastestWalk(cursor, roundsFor(FAR_LATENCY_LOADS), farLatencyWalks(blockBytes),
                     rdtscOverhead, chase);
}

u32 farLatencyWalks(u32 blockBytes) {
  const std::uint64_t twice = std::uint64_t{chaseLines(blockBytes)} * 2;
  const std::uint64_t walks = (twice + FAR_LATENCY_LOADS - 1) / FAR_LATENCY_LOADS + 1;
  return static_cast<u32>(
      std::clamp<std::uint64_t>(walks, FAR_LATENCY_MIN_WALKS, FAR_LATENCY_MAX_WALKS));
}

u32 latencyPicoseconds(u32 ticksX256, u32 tscRate) {
  if (ticksX256 == NO_POINT || tscRate == 0) return NO_POINT;
  // ps = ticksX256 / 256 * 10^12 / (tscRate * 1024) = ticksX256 * 5^12 / (64 * tscRate), which
  // keeps the product below 2^61.
  const std::uint64_t ps = std::uint64_t{ticksX256} * 244'140'625ull / (64ull * tscRate);
  return ps < NO_POINT ? static_cast<u32>(ps) : NO_POINT - 1;
}

}  // namespace vardelo
