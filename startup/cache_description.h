// The processor's caches as CPUID describes them, and the span of the test area that the RAM
// walks use, which follows from the largest of them.
//
// The levels come from leaf 4 (Intel and others), else leaf 0x8000001D (AMD and Hygon with
// topology extensions), else the legacy leaves 0x80000005 (L1) and 0x80000006 (L2, L3). Leaf 2
// descriptors (Intel processors before leaf 4, such as most Pentium 4) are not decoded: such a
// processor describes no cache here, and the program treats its caches as small. Caches a
// hypervisor or an emulator reports are taken as reported.
//
// Everything here is pure: CPUID comes in as a function, so tables of recorded registers drive it
// on the host.
#pragma once

#include <cstdint>

#include "core/bench_state.h"
#include "platform/cpu.h"

namespace vardelo {

// CPUID with EAX = leaf and ECX = subleaf.
using CpuidFn = CpuidRegs (*)(u32 leaf, u32 subleaf);

inline constexpr u32 LEAF_CACHE_PARAMETERS = 4;
inline constexpr u32 LEAF_EXT_FEATURES = 0x80000001u;
inline constexpr u32 LEAF_AMD_L1 = 0x80000005u;
inline constexpr u32 LEAF_AMD_L2_L3 = 0x80000006u;
inline constexpr u32 LEAF_AMD_CACHE_TOPOLOGY = 0x8000001Du;
// 0x80000001 ECX bit 22: leaf 0x8000001D is there.
inline constexpr u32 FEATURE_TOPOLOGY_EXTENSIONS = 1u << 22;
// Leaf 1 EDX bit 19: CLFLUSH; leaf 1 EBX bits 8..15: the line it flushes, in units of 8 bytes.
inline constexpr u32 FEATURE_CLFLUSH = 1u << 19;

// The levels the processor reports, in the order CPUID lists them. A processor with more levels
// than fit keeps the first ones.
CacheList describeCaches(CpuidFn cpuid);

// The largest data or unified cache (the one main memory fills), or null when none is described.
const CacheLevelInfo* largestCache(const CacheList& caches);

// Its size in bytes; 0 when none is described.
u32 largestCacheBytes(const CacheList& caches);

// Bytes that one CLFLUSH covers, from leaf 1; 0 when the processor has no CLFLUSH. A processor
// that has it but reports no size gets 32, the shortest line of any x86 that has CLFLUSH, so that
// a flush in steps of it misses no line.
u32 clflushLineBytes(u32 leaf1Ebx, u32 leaf1Edx);

// CLFLUSHOPT, from leaf 7 (subleaf 0, EBX) where the highest standard leaf reaches it, and only
// beside CLFLUSH: a flush needs the line size that leaf 1 gives.
inline constexpr u32 CPUID7_EBX_CLFLUSHOPT = 1u << 23;
bool clflushOptPresent(u32 clflushBytes, u32 maxLeaf, u32 leaf7Ebx);

// --- The RAM span ---------------------------------------------------------------------------------

// The span of the test area that the RAM walks rotate through, for a largest cache of
// `largestCache` bytes (0: unknown) on a machine with `totalMemoryBytes` of memory (0: unknown):
// the 8 MiB window itself while the largest cache is 2 MiB or less or unknown, else the smallest
// power of two at least four times it, at most `maxSpanBytes` (a power of two: RAM_SPAN_MAX_BYTES
// in a 32-bit process) and at most an eighth of the memory (rounded down to a power of two),
// never below 8 MiB.
u32 ramSpanBytesFor(u32 largestCache, std::uint64_t totalMemoryBytes,
                    u32 maxSpanBytes = RAM_SPAN_MAX_BYTES);

// Whether going round a span of `spanBytes` leaves a window out of the caches by itself: the span
// is at least RAM_SPAN_CACHE_FACTOR times a known largest cache.
bool ramSpanOutgrowsCaches(u32 spanBytes, u32 largestCache);

// The test area that holds a span: the span and 4 MiB behind it, 12 MiB for the 8 MiB window.
// The cache sweep uses the first 12 MiB whatever the span.
u32 testAreaBytesFor(u32 spanBytes);

// The span to try after an allocation for `spanBytes` failed: half of it, or 0 when it is the
// 8 MiB window already and nothing smaller will do.
u32 nextSmallerSpan(u32 spanBytes);

}  // namespace vardelo
