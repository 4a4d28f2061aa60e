#include "kernels/latency_probe.h"

extern "C" std::uint64_t vardelo_latency_chase(const void** cursor, std::uint32_t rounds);

namespace vardelo {

std::uint64_t chaseWithKernel(std::uintptr_t& cursor, u32 rounds) {
  const void* p = reinterpret_cast<const void*>(cursor);
  const std::uint64_t ticks = vardelo_latency_chase(&p, rounds);
  cursor = reinterpret_cast<std::uintptr_t>(p);
  return ticks;
}

u32 measureLatency(u32 blockBytes) {
  u8* area = bench.machine.testArea.load(std::memory_order_relaxed);
  return measureLatencyWith(blockBytes, area, reinterpret_cast<std::uintptr_t>(area),
                            bench.machine.rdtscOverhead.load(std::memory_order_relaxed),
                            chaseWithKernel);
}

u32 measureFarLatency(u32 blockBytes) {
  u8* area = bench.machine.testArea.load(std::memory_order_relaxed);
  return measureFarLatencyWith(blockBytes, area, reinterpret_cast<std::uintptr_t>(area),
                               bench.machine.rdtscOverhead.load(std::memory_order_relaxed),
                               chaseWithKernel);
}

}  // namespace vardelo
