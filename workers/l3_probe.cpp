#include "workers/l3_probe.h"

#include <algorithm>
#include <cstdint>

#include "workers/cache_edges.h"
#include "workers/cache_geometry.h"

namespace vardelo {
namespace {

using u64 = std::uint64_t;

constexpr u32 MIB = 1u << 20;
constexpr u32 PAGE_BYTES = 4096;
// A block reads main memory from three times the level's latency on.
constexpr u64 MEMORY_OVER_LEVEL = 3;

u64 isqrt(u64 x) {
  u64 r = 0;
  for (u64 bit = u64{1} << 62; bit != 0; bit >>= 2) {
    if (x >= r + bit) {
      x -= r + bit;
      r = (r >> 1) + bit;
    } else {
      r >>= 1;
    }
  }
  return r;
}

u64 roundedToMiB(u64 bytes) { return (bytes + MIB / 2) / MIB * MIB; }

// Measures a block and keeps what it read, while there is room.
u32 take(FarLatencies& m, FarLatencyFn measure, u32 bytes) {
  const u32 latency = measure(bytes);
  if (m.count < FAR_LATENCY_POINTS) {
    m.bytes[m.count] = bytes;
    m.ticksX256[m.count] = latency;
    ++m.count;
  }
  return latency;
}

// Main memory's latency from the last two blocks, B1 < B2 reading λ1 and λ2. A cache that keeps
// a fixed part C of every block it cannot hold makes a block read λm − (λm − λ3) × C / B, which
// approaches main memory slowly; the line through the two points over 1 / B meets it at 1 / B = 0:
// λm = (λ2 × B2 − λ1 × B1) / (B2 − B1). A cache that holds all of a block or nothing makes both
// points read λm already. The result is kept between the higher of the two and twice it, so that
// noise on two points that lie close cannot take it far.
u64 mainMemoryLatency(u64 b1, u64 t1, u64 b2, u64 t2) {
  const u64 high = std::max(t1, t2);
  const u64 scaled2 = t2 * b2, scaled1 = t1 * b1;
  const u64 fitted = scaled2 > scaled1 ? (scaled2 - scaled1) / (b2 - b1) : 0;
  return std::clamp(fitted, high, 2 * high);
}

// Measures the block of entry i again and keeps the faster reading: whatever else runs on the
// machine only ever lengthens a load.
u64 remeasure(FarLatencies& m, FarLatencyFn measure, u32 i) {
  m.ticksX256[i] = std::min(m.ticksX256[i], measure(m.bytes[i]));
  return m.ticksX256[i];
}

// Up the half octaves until two blocks in a row read main memory, each confirmed by a second
// measurement (a burst of other work can make two blocks in a row read slow): its latency then,
// or 0 when the limit (or the room for the narrowing after it) came first.
u32 climbToMainMemory(FarLatencies& m, FarLatencyFn measure, u32 level, u32 limitBytes) {
  const u64 memoryFrom = MEMORY_OVER_LEVEL * level;
  auto levelledOff = [&](u64 previous, u64 latency) {
    return previous >= memoryFrom && latency >= memoryFrom && latency <= previous + previous / 4;
  };
  for (u32 k = 0;; ++k) {
    const u32 block = l3LadderBlock(k);
    if (block == 0 || block > limitBytes) return 0;
    if (m.count + L3_NARROWING_STEPS >= FAR_LATENCY_POINTS) return 0;
    take(m, measure, block);
    if (m.count < 2 || !levelledOff(m.ticksX256[m.count - 2], m.ticksX256[m.count - 1])) continue;
    const u64 previous = remeasure(m, measure, m.count - 2);
    const u64 latency = remeasure(m, measure, m.count - 1);
    if (!levelledOff(previous, latency)) continue;
    const u64 memory = mainMemoryLatency(m.bytes[m.count - 2], previous, block, latency);
    return memory < NO_POINT ? static_cast<u32>(memory) : NO_POINT - 1;
  }
}

}  // namespace

u32 l3LadderBlock(u32 k) {
  const u64 bytes = (u64{k % 2 == 0 ? 4u : 6u} * MIB) << (k / 2);
  return bytes > 0xFFFFFFFFu ? 0 : static_cast<u32>(bytes);
}

L3Probe probeL3With(const CurveCopy& latency, u32 l2ProbeSize, u32 l2SizeBytes, u32 limitBytes,
                    FarLatencyFn measure) {
  L3Probe out;
  if (!latencyMeasured(latency)) return out;
  const u32 probe = pointOfSize(l2ProbeSize);
  if (probe >= CACHE_POINTS) return out;
  const u32 l2Latency =
      medianOf(latency, probe < 2 ? 0 : probe - 2, std::min<u32>(probe + 2, CACHE_POINTS - 1));
  const u32 level = medianOf(latency, L3_LEVEL_FIRST_POINT, CACHE_POINTS - 1);
  if (level < l2Latency + l2Latency / 2) return out;

  FarLatencies& m = out.measured;
  const u32 memory = climbToMainMemory(m, measure, level, limitBytes);
  if (memory == 0) return out;

  // What the cache held of each block below halfway; the sweep's last block reads the level
  // itself.
  const u32 halfway = level + (memory - level) / 2;
  auto heldOf = [&](u64 bytes, u32 t) -> u64 {
    if (t >= halfway) return 0;
    return t <= level ? bytes : bytes * (memory - t) / (memory - level);
  };
  u64 held = sweepBlockSize(CACHE_POINTS - 1);
  for (u32 i = 0; i < m.count; ++i) held = std::max(held, heldOf(m.bytes[i], m.ticksX256[i]));

  // Between the last run of blocks at or above halfway, which ends the ladder, and the block
  // before it, while that block was held (nearly) whole: the edge lies in between. Where the
  // blocks below halfway were held in part, they have shown the size already.
  u32 first = m.count;
  while (first > 0 && m.ticksX256[first - 1] >= halfway) --first;
  u32 below = first == 0 ? sweepBlockSize(CACHE_POINTS - 1) : m.bytes[first - 1];
  u32 above = first < m.count ? m.bytes[first] : below;
  for (u32 step = 0; step < L3_NARROWING_STEPS && held * 20 >= u64{below} * 19; ++step) {
    const u64 middle = roundedToMiB(isqrt(u64{below} * above));
    if (middle <= below || middle >= above) break;
    const u32 t = take(m, measure, static_cast<u32>(middle));
    if (t >= halfway) {
      above = static_cast<u32>(middle);
    } else {
      below = static_cast<u32>(middle);
      held = std::max(held, heldOf(middle, t));
    }
  }
  const u64 size = roundedToMiB(held);
  if (size > l2SizeBytes && size <= 0xFFFFFFFFu) out.sizeBytes = static_cast<u32>(size);
  return out;
}

u32 l3SpeedBlockBytes(u32 l3Bytes, u32 l2Bytes) {
  const u64 middle = isqrt(u64{l3Bytes} * l2Bytes);
  const u64 block = std::max<u64>(l3Bytes / 2, middle);
  return static_cast<u32>(block / PAGE_BYTES * PAGE_BYTES);
}

}  // namespace vardelo
