#include "startup/cache_description.h"

#include <algorithm>

#include "workers/cache_geometry.h"

namespace vardelo {
namespace {

constexpr u32 KIB = 1024;
// Subleaves tried per leaf; a processor lists a handful, a broken hypervisor might never stop.
constexpr u32 MAX_SUBLEAVES = 16;

u32 bits(u32 value, u32 low, u32 count) { return (value >> low) & ((1u << count) - 1); }

// Levels of size 0 (a leaf's way of saying "none") are left out; so are levels past the capacity.
void add(CacheList& list, const CacheLevelInfo& level) {
  if (level.sizeBytes != 0 && list.count < MAX_CACHE_LEVELS) list.levels[list.count++] = level;
}

// Leaves 4 and 0x8000001D share one layout. EAX: type 0..4, level 5..7, fully associative 9,
// sharing - 1 in 14..25; EBX: line - 1 in 0..11, partitions - 1 in 12..21, ways - 1 in 22..31;
// ECX: sets - 1. Type 0 ends the list.
CacheList deterministicLevels(CpuidFn cpuid, u32 leaf, u8 source) {
  CacheList list{};
  for (u32 sub = 0; sub < MAX_SUBLEAVES; ++sub) {
    const CpuidRegs r = cpuid(leaf, sub);
    const u32 type = bits(r.eax, 0, 5);
    if (type == 0) break;
    const u32 line = bits(r.ebx, 0, 12) + 1;
    const u32 partitions = bits(r.ebx, 12, 10) + 1;
    const u32 ways = bits(r.ebx, 22, 10) + 1;
    const std::uint64_t sets = std::uint64_t{r.ecx} + 1;
    const std::uint64_t size = sets * ways * partitions * line;
    // Types above 3 are reserved; no cache of 4 GiB or more is one a 32-bit walk could fill.
    if (type > CACHE_UNIFIED || size > 0xFFFFFFFFu) continue;
    add(list, {static_cast<u8>(bits(r.eax, 5, 3)), static_cast<u8>(type), static_cast<u32>(size),
               line, bits(r.eax, 9, 1) != 0 ? 0 : ways, bits(r.eax, 14, 12) + 1});
  }
  if (list.count > 0) list.source = source;
  return list;
}

// The associativity codes of 0x80000006 (AMD's table; Intel's codes are a subset of it). 0 for
// fully associative and for code 9, "see leaf 0x8000001D".
u32 waysOfCode(u32 code) {
  static constexpr u32 WAYS[16] = {0, 1, 2, 3, 4, 6, 8, 0, 16, 0, 32, 48, 64, 96, 128, 0};
  return WAYS[code & 15];
}

// 0x80000005 ECX (data) and EDX (instruction): size in KiB 24..31, ways 16..23 (0xFF: fully
// associative), line 0..7. Intel leaves this leaf zero, and zero sizes are skipped.
CacheLevelInfo legacyL1(u32 reg, u8 type) {
  const u32 ways = bits(reg, 16, 8);
  return {1, type, bits(reg, 24, 8) * KIB, bits(reg, 0, 8), ways == 0xFF ? 0 : ways, 0};
}

// 0x80000006 ECX: L2 size in KiB 16..31, associativity code 12..15 (0: no cache), line 0..7.
// EDX: L3 size in units of 512 KiB 18..31, the same code and line fields.
CacheList legacyLevels(CpuidFn cpuid, u32 maxExtLeaf) {
  CacheList list{};
  if (maxExtLeaf >= LEAF_AMD_L1) {
    const CpuidRegs l1 = cpuid(LEAF_AMD_L1, 0);
    add(list, legacyL1(l1.ecx, CACHE_DATA));
    add(list, legacyL1(l1.edx, CACHE_INSTRUCTION));
  }
  if (maxExtLeaf >= LEAF_AMD_L2_L3) {
    const CpuidRegs r = cpuid(LEAF_AMD_L2_L3, 0);
    if (bits(r.ecx, 12, 4) != 0) {
      add(list, {2, CACHE_UNIFIED, bits(r.ecx, 16, 16) * KIB, bits(r.ecx, 0, 8),
                 waysOfCode(bits(r.ecx, 12, 4)), 0});
    }
    if (bits(r.edx, 12, 4) != 0) {
      add(list, {3, CACHE_UNIFIED, bits(r.edx, 18, 14) * 512 * KIB, bits(r.edx, 0, 8),
                 waysOfCode(bits(r.edx, 12, 4)), 0});
    }
  }
  if (list.count > 0) list.source = CACHES_FROM_LEGACY_LEAVES;
  return list;
}

}  // namespace

CacheList describeCaches(CpuidFn cpuid) {
  const u32 maxLeaf = cpuid(0, 0).eax;
  const u32 maxExtLeaf = cpuid(LEAF_EXT_RANGE, 0).eax;
  // Processors without extended leaves echo something else than 0x8000000x here.
  const bool extended = maxExtLeaf >= LEAF_EXT_FEATURES && maxExtLeaf <= LEAF_EXT_FEATURES + 0xFFFF;

  if (maxLeaf >= LEAF_CACHE_PARAMETERS) {
    const CacheList list = deterministicLevels(cpuid, LEAF_CACHE_PARAMETERS, CACHES_FROM_LEAF_4);
    if (list.count > 0) return list;
  }
  if (!extended) return {};
  if (maxExtLeaf >= LEAF_AMD_CACHE_TOPOLOGY &&
      (cpuid(LEAF_EXT_FEATURES, 0).ecx & FEATURE_TOPOLOGY_EXTENSIONS) != 0) {
    const CacheList list =
        deterministicLevels(cpuid, LEAF_AMD_CACHE_TOPOLOGY, CACHES_FROM_LEAF_8000001D);
    if (list.count > 0) return list;
  }
  return legacyLevels(cpuid, maxExtLeaf);
}

const CacheLevelInfo* largestCache(const CacheList& caches) {
  const CacheLevelInfo* largest = nullptr;
  for (u32 i = 0; i < caches.count && i < MAX_CACHE_LEVELS; ++i) {
    const CacheLevelInfo& level = caches.levels[i];
    if (level.type == CACHE_INSTRUCTION || level.sizeBytes == 0) continue;
    if (largest == nullptr || level.sizeBytes > largest->sizeBytes) largest = &level;
  }
  return largest;
}

u32 largestCacheBytes(const CacheList& caches) {
  const CacheLevelInfo* largest = largestCache(caches);
  return largest ? largest->sizeBytes : 0;
}

u32 clflushLineBytes(u32 leaf1Ebx, u32 leaf1Edx) {
  if ((leaf1Edx & FEATURE_CLFLUSH) == 0) return 0;
  const u32 bytes = bits(leaf1Ebx, 8, 8) * 8;
  return bytes == 0 ? 32 : bytes;
}

bool clflushOptPresent(u32 clflushBytes, u32 maxLeaf, u32 leaf7Ebx) {
  return clflushBytes != 0 && maxLeaf >= 7 && (leaf7Ebx & CPUID7_EBX_CLFLUSHOPT) != 0;
}

// --- The RAM span ---------------------------------------------------------------------------------

u32 ramSpanBytesFor(u32 largestCache, std::uint64_t totalMemoryBytes, u32 maxSpanBytes) {
  if (largestCache <= RAM_SPAN_SMALL_CACHE_BYTES) return RAM_WINDOW_BYTES;
  std::uint64_t span = RAM_WINDOW_BYTES;
  while (span < std::uint64_t{largestCache} * RAM_SPAN_CACHE_FACTOR) span *= 2;
  std::uint64_t cap = maxSpanBytes;
  if (totalMemoryBytes != 0) {
    const std::uint64_t eighth = totalMemoryBytes / RAM_SPAN_MEMORY_SHARE;
    const u32 share = highestPowerOfTwoNotAbove(
        static_cast<u32>(std::min<std::uint64_t>(eighth, 0xFFFFFFFFu)));
    if (share < cap) cap = share;
  }
  if (span > cap) span = cap;
  return span < RAM_WINDOW_BYTES ? RAM_WINDOW_BYTES : static_cast<u32>(span);
}

bool ramSpanOutgrowsCaches(u32 spanBytes, u32 largestCache) {
  return largestCache != 0 &&
         std::uint64_t{spanBytes} >= std::uint64_t{largestCache} * RAM_SPAN_CACHE_FACTOR;
}

u32 testAreaBytesFor(u32 spanBytes) { return spanBytes + TEST_AREA_BYTES - RAM_WINDOW_BYTES; }

u32 nextSmallerSpan(u32 spanBytes) {
  return spanBytes <= RAM_WINDOW_BYTES ? 0 : spanBytes / 2 < RAM_WINDOW_BYTES ? RAM_WINDOW_BYTES
                                                                                : spanBytes / 2;
}

}  // namespace vardelo
