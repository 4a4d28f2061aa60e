#include "workers/cache_geometry.h"

namespace vardelo {

namespace {

constexpr u32 SMALLEST_SWEEP_BYTES = 4608;

// 16 + i mod 16, scaled by 2^(i / 16): the point's size in units of 256 bytes.
u32 sizeIn256ByteUnits(u32 i) { return (16u + i % 16u) << (i / 16u); }

}  // namespace

u32 sweepBlockSize(u32 i) {
  const u32 bytes = sizeIn256ByteUnits(i) * 256u;
  return bytes <= SMALLEST_SWEEP_BYTES ? SMALLEST_SWEEP_BYTES : bytes;
}

u32 curvePointSize(u32 i) { return sizeIn256ByteUnits(i) / 4u * 1024u; }

u32 highestPowerOfTwoNotAbove(u32 x) {
  u32 power = 1;
  while (x > 1) {
    x >>= 1;
    power <<= 1;
  }
  return power;
}

u32 knownSizeBetween(std::span<const u32> sizes, u32 low, u32 high) {
  for (const u32 size : sizes) {
    if (size >= low && size <= high) return size;
  }
  return 0;
}

}  // namespace vardelo
