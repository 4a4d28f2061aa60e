#include "startup/cache_description.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace vardelo {
namespace {

constexpr u32 KIB = 1024;
constexpr u32 MIB = 1024 * 1024;
constexpr std::uint64_t GIB = std::uint64_t{1} << 30;

// Recorded CPUID registers of one processor; leaves and subleaves it does not list read as zero.
struct Leaf {
  u32 leaf, subleaf;
  CpuidRegs regs;
};
const std::vector<Leaf>* machine = nullptr;
int calls = 0;

CpuidRegs recordedCpuid(u32 leaf, u32 subleaf) {
  ++calls;
  for (const Leaf& l : *machine) {
    if (l.leaf == leaf && l.subleaf == subleaf) return l.regs;
  }
  return {0, 0, 0, 0};
}

// Vendor strings in EBX, EDX, ECX, with the highest basic leaf in EAX.
CpuidRegs amd(u32 maxLeaf) { return {maxLeaf, 0x68747541, 0x444D4163, 0x69746E65}; }
CpuidRegs intel(u32 maxLeaf) { return {maxLeaf, 0x756E6547, 0x6C65746E, 0x49656E69}; }

// This machine: AMD EPYC family 0x19 model 1 (Zen 3) under KVM, as read here.
const std::vector<Leaf> ZEN3 = {
    {0x00000000, 0, amd(0x10)},
    {0x00000001, 0, {0x00A00F11, 0x01020800, 0xFFFA3203, 0x178BFBFF}},
    {0x80000000, 0, {0x80000022, 0x68747541, 0x444D4163, 0x69746E65}},
    {0x80000001, 0, {0x00A00F11, 0x40000000, 0x004003F3, 0x2FD3FBFF}},
    {0x80000005, 0, {0xFF40FF40, 0xFF40FF40, 0x20080140, 0x20080140}},
    // 0x80000006 gives the package's L3, 256 MiB (code 9: ways in 0x8000001D); 0x8000001D gives
    // the 32 MiB that this core's die has.
    {0x80000006, 0, {0x48002200, 0x68004200, 0x02006140, 0x08009140}},
    {0x8000001D, 0, {0x00000121, 0x01C0003F, 0x0000003F, 0x00000000}},
    {0x8000001D, 1, {0x00000122, 0x01C0003F, 0x0000003F, 0x00000000}},
    {0x8000001D, 2, {0x00000143, 0x01C0003F, 0x000003FF, 0x00000002}},
    {0x8000001D, 3, {0x00004163, 0x03C0003F, 0x00007FFF, 0x00000001}},
};

// The Zen 4 of measured/zen4-kvm: L1D 32 KiB 8-way, L2 1 MiB 8-way, L3 32 MiB 16-way.
const std::vector<Leaf> ZEN4 = {
    {0x00000000, 0, amd(0x10)},
    {0x00000001, 0, {0x00A10F11, 0x01020800, 0xFEDA3203, 0x178BFBFF}},
    {0x80000000, 0, {0x80000028, 0x68747541, 0x444D4163, 0x69746E65}},
    {0x80000001, 0, {0x00A10F11, 0x40000000, 0x004003F3, 0x2FD3FBFF}},
    {0x80000006, 0, {0x48002200, 0x68004200, 0x04006140, 0x08009140}},
    {0x8000001D, 0, {0x00000121, 0x01C0003F, 0x0000003F, 0x00000000}},
    {0x8000001D, 1, {0x00000122, 0x01C0003F, 0x0000003F, 0x00000000}},
    {0x8000001D, 2, {0x00000143, 0x01C0003F, 0x000007FF, 0x00000002}},
    {0x8000001D, 3, {0x0003C163, 0x03C0003F, 0x00007FFF, 0x00000001}},
};

// A Xeon of the Sapphire Rapids kind: L1D 48 KiB 12-way, L1I 32 KiB, L2 2 MiB 16-way, L3
// 105 MiB 15-way shared by 128 threads.
const std::vector<Leaf> XEON = {
    {0x00000000, 0, intel(0x20)},
    {0x00000001, 0, {0x000806F8, 0x00800800, 0xFFFAB223, 0x1F8BFBFF}},
    {0x00000004, 0, {0xFC004121, 0x02C0003F, 0x0000003F, 0x00000000}},
    {0x00000004, 1, {0xFC004122, 0x01C0003F, 0x0000003F, 0x00000000}},
    {0x00000004, 2, {0xFC004143, 0x03C0003F, 0x000007FF, 0x00000000}},
    {0x00000004, 3, {0xFC1FC163, 0x0380003F, 0x0001BFFF, 0x00000004}},
    {0x80000000, 0, {0x80000008, 0, 0, 0}},
    {0x80000006, 0, {0x00000000, 0x00000000, 0x08008040, 0x00000000}},
};

// Core 2 Duo (Conroe): L1D 32 KiB, L1I 32 KiB, L2 4 MiB 16-way shared by both cores, no L3.
const std::vector<Leaf> CORE2 = {
    {0x00000000, 0, intel(0xA)},
    {0x00000001, 0, {0x000006F6, 0x00020800, 0x0000E3BD, 0xBFEBFBFF}},
    {0x00000004, 0, {0x04000121, 0x01C0003F, 0x0000003F, 0x00000001}},
    {0x00000004, 1, {0x04000122, 0x01C0003F, 0x0000003F, 0x00000001}},
    {0x00000004, 2, {0x04004143, 0x03C0003F, 0x00000FFF, 0x00000001}},
    {0x80000000, 0, {0x80000008, 0, 0, 0}},
    {0x80000006, 0, {0x00000000, 0x00000000, 0x10008040, 0x00000000}},
};

// Pentium 4 (Northwood), 512 KiB L2 described by leaf 2 only. Its highest basic leaf is 2, and
// like every Intel processor it answers a higher leaf with the registers of its highest one: a
// reader that asked leaf 4 anyway would find "types" in leaf 2's descriptor bytes.
const std::vector<Leaf> PENTIUM4 = {
    {0x00000000, 0, intel(0x2)},
    {0x00000001, 0, {0x00000F29, 0x00010809, 0x00004400, 0xBFEBFBFF}},
    {0x00000002, 0, {0x665B5001, 0x00000000, 0x00000000, 0x007B7040}},
    {0x00000004, 0, {0x665B5001, 0x00000000, 0x00000000, 0x007B7040}},
    {0x80000000, 0, {0x80000004, 0, 0, 0}},
};

// An emulated processor with no cache leaves at all.
const std::vector<Leaf> EMULATED = {
    {0x00000000, 0, intel(0x1)},
    {0x00000001, 0, {0x00000663, 0x00000800, 0x80000000, 0x0783FBFF}},
    {0x80000000, 0, {0x80000004, 0, 0, 0}},
};

// Athlon 64 (K8): L1 from 0x80000005, L2 512 KiB 16-way from 0x80000006, no L3, no 0x8000001D.
const std::vector<Leaf> ATHLON64 = {
    {0x00000000, 0, amd(0x1)},
    {0x00000001, 0, {0x00020FB1, 0x00020800, 0x00000001, 0x178BFBFF}},
    {0x80000000, 0, {0x80000018, 0x68747541, 0x444D4163, 0x69746E65}},
    {0x80000001, 0, {0x00020FB1, 0x000008D1, 0x00000003, 0xE3D3FBFF}},
    {0x80000005, 0, {0xFF08FF08, 0xFF20FF20, 0x40020140, 0x40020140}},
    {0x80000006, 0, {0x00000000, 0x42004200, 0x02008140, 0x00000000}},
};

// Phenom II X4 (family 0x10): the same legacy leaves with a 6 MiB 48-way L3.
const std::vector<Leaf> PHENOM2 = {
    {0x00000000, 0, amd(0x5)},
    {0x00000001, 0, {0x00100F42, 0x00040800, 0x00802009, 0x178BFBFF}},
    {0x80000000, 0, {0x8000001B, 0x68747541, 0x444D4163, 0x69746E65}},
    {0x80000001, 0, {0x00100F42, 0x10001B39, 0x000037FF, 0xEFD3FBFF}},
    {0x80000005, 0, {0xFF30FF10, 0xFF30FF20, 0x40020140, 0x40020140}},
    {0x80000006, 0, {0x20800000, 0x42004200, 0x02008140, 0x0030B140}},
};

using Level = CacheLevelInfo;
constexpr u8 D = CACHE_DATA, I = CACHE_INSTRUCTION, U = CACHE_UNIFIED;

struct Machine {
  const char* name;
  const std::vector<Leaf>* leaves;
  u8 source;
  std::vector<Level> levels;
  u32 largest;
  u32 spanWith16GiB;  // the RAM span on a machine with 16 GiB
};

const Machine MACHINES[] = {
    {"Zen 3 (this machine)", &ZEN3, CACHES_FROM_LEAF_8000001D,
     {{1, D, 32 * KIB, 64, 8, 1}, {1, I, 32 * KIB, 64, 8, 1}, {2, U, 512 * KIB, 64, 8, 1},
      {3, U, 32 * MIB, 64, 16, 2}},
     32 * MIB, 128 * MIB},
    {"Zen 4 (measured)", &ZEN4, CACHES_FROM_LEAF_8000001D,
     {{1, D, 32 * KIB, 64, 8, 1}, {1, I, 32 * KIB, 64, 8, 1}, {2, U, 1 * MIB, 64, 8, 1},
      {3, U, 32 * MIB, 64, 16, 16}},
     32 * MIB, 128 * MIB},
    {"Xeon 48K/2M/105M", &XEON, CACHES_FROM_LEAF_4,
     {{1, D, 48 * KIB, 64, 12, 2}, {1, I, 32 * KIB, 64, 8, 2}, {2, U, 2 * MIB, 64, 16, 2},
      {3, U, 105 * MIB, 64, 15, 128}},
     105 * MIB, 512 * MIB},
    {"Core 2, 4 MiB L2", &CORE2, CACHES_FROM_LEAF_4,
     {{1, D, 32 * KIB, 64, 8, 1}, {1, I, 32 * KIB, 64, 8, 1}, {2, U, 4 * MIB, 64, 16, 2}},
     4 * MIB, 16 * MIB},
    {"Pentium 4, leaf 2 only", &PENTIUM4, CACHES_UNKNOWN, {}, 0, 8 * MIB},
    {"emulated, no cache leaves", &EMULATED, CACHES_UNKNOWN, {}, 0, 8 * MIB},
    {"Athlon 64, legacy leaves", &ATHLON64, CACHES_FROM_LEGACY_LEAVES,
     {{1, D, 64 * KIB, 64, 2, 0}, {1, I, 64 * KIB, 64, 2, 0}, {2, U, 512 * KIB, 64, 16, 0}},
     512 * KIB, 8 * MIB},
    {"Phenom II, legacy L3", &PHENOM2, CACHES_FROM_LEGACY_LEAVES,
     {{1, D, 64 * KIB, 64, 2, 0}, {1, I, 64 * KIB, 64, 2, 0}, {2, U, 512 * KIB, 64, 16, 0},
      {3, U, 6 * MIB, 64, 48, 0}},
     6 * MIB, 32 * MIB},
};

std::string describe(const Level& l) {
  char text[96];
  std::snprintf(text, sizeof text, "L%u type %u: %u bytes, line %u, %u ways, shared by %u",
                l.level, l.type, l.sizeBytes, l.lineBytes, l.ways, l.sharing);
  return text;
}

TEST(CacheDescription, LevelsLargestCacheAndSpanOfEachMachine) {
  for (const Machine& m : MACHINES) {
    machine = m.leaves;
    const CacheList caches = describeCaches(recordedCpuid);
    EXPECT_EQ(caches.source, m.source) << m.name;
    ASSERT_EQ(caches.count, m.levels.size()) << m.name;
    for (std::size_t i = 0; i < m.levels.size(); ++i) {
      EXPECT_EQ(describe(caches.levels[i]), describe(m.levels[i])) << m.name << ", entry " << i;
    }
    const u32 largest = largestCacheBytes(caches);
    EXPECT_EQ(largest, m.largest) << m.name;
    EXPECT_EQ(ramSpanBytesFor(largest, 16 * GIB), m.spanWith16GiB) << m.name;
  }
}

TEST(CacheDescription, ListsThatNeverEndStopAtTheirCapacity) {
  // A hypervisor that answers every subleaf of leaf 4 with an L1 data cache.
  const std::vector<Leaf> endless = [] {
    std::vector<Leaf> leaves{{0, 0, intel(0xB)}};
    for (u32 sub = 0; sub < 64; ++sub) leaves.push_back({4, sub, {0x121, 0x01C0003F, 0x3F, 0}});
    return leaves;
  }();
  machine = &endless;
  calls = 0;
  const CacheList caches = describeCaches(recordedCpuid);
  EXPECT_EQ(caches.count, MAX_CACHE_LEVELS);
  EXPECT_LT(calls, 40) << "the subleaves are not bounded";
}

TEST(CacheDescription, InstructionCachesAndReservedTypesDoNotCount) {
  const std::vector<Leaf> odd = {
      {0, 0, intel(0x4)},
      {4, 0, {0x122, 0x01C0003F, 0xFFFF, 0}},    // a 32 MiB instruction cache
      {4, 1, {0x144, 0x01C0003F, 0xFFFF, 0}},    // type 4, reserved
      {4, 2, {0x143, 0x01C0003F, 0x7FF, 0}},     // 1 MiB unified
  };
  machine = &odd;
  const CacheList caches = describeCaches(recordedCpuid);
  ASSERT_EQ(caches.count, 2);
  EXPECT_EQ(largestCacheBytes(caches), 1 * MIB);
}

TEST(CacheDescription, ExtendedLeavesAreReadOnlyWhenTheProcessorHasThem) {
  // An old processor answers 0x80000000 with the registers of a basic leaf: no extended leaves,
  // even though the table would answer 0x80000006 with a cache.
  const std::vector<Leaf> old = {
      {0, 0, intel(0x2)},
      {0x80000000, 0, {0x00000633, 0, 0, 0}},
      {0x80000006, 0, {0, 0, 0x10008040, 0}},
  };
  machine = &old;
  EXPECT_EQ(describeCaches(recordedCpuid).count, 0);
  // 0x8000001D without the topology-extensions flag is not asked; the legacy leaves answer.
  std::vector<Leaf> noTopology = ZEN3;
  for (Leaf& l : noTopology) {
    if (l.leaf == 0x80000001) l.regs.ecx &= ~FEATURE_TOPOLOGY_EXTENSIONS;
  }
  machine = &noTopology;
  const CacheList legacy = describeCaches(recordedCpuid);
  EXPECT_EQ(legacy.source, CACHES_FROM_LEGACY_LEAVES);
  // 0x80000006 counts the L3 of all eight dies of the package.
  EXPECT_EQ(largestCacheBytes(legacy), 256 * MIB);
}

TEST(CacheDescription, ClflushLineFromLeaf1) {
  EXPECT_EQ(clflushLineBytes(0x01020800, 0x178BFBFF), 64u);  // this machine
  EXPECT_EQ(clflushLineBytes(0x00010809, 0xBFEBFBFF), 64u);  // Pentium 4
  EXPECT_EQ(clflushLineBytes(0x00000000, FEATURE_CLFLUSH), 32u) << "present, size not reported";
  EXPECT_EQ(clflushLineBytes(0x01020800, 0x0783FBFF & ~FEATURE_CLFLUSH), 0u);

  EXPECT_TRUE(clflushOptPresent(64, 0x10, 0xF1BF07AB));  // Zen 4 (leaf 7 EBX)
  EXPECT_FALSE(clflushOptPresent(64, 0x0D, 0x021C27AB)) << "Broadwell: no CLFLUSHOPT";
  EXPECT_FALSE(clflushOptPresent(64, 6, CPUID7_EBX_CLFLUSHOPT)) << "leaf 7 beyond the highest";
  EXPECT_FALSE(clflushOptPresent(0, 0x10, CPUID7_EBX_CLFLUSHOPT)) << "no CLFLUSH, no line size";
}

TEST(RamSpan, FollowsTheLargestCacheWithinItsLimits) {
  struct Row {
    u32 largest;
    std::uint64_t memory;
    u32 span;
    u32 cap = RAM_SPAN_MAX_BYTES;
  };
  const Row rows[] = {
      {0, 16 * GIB, 8 * MIB},              // unknown
      {512 * KIB, 16 * GIB, 8 * MIB},
      {2 * MIB, 16 * GIB, 8 * MIB},        // the largest cache that keeps today's walks
      {2 * MIB + 64, 16 * GIB, 16 * MIB},  // four times it passes 8 MiB
      {3 * MIB, 16 * GIB, 16 * MIB},
      {4 * MIB, 16 * GIB, 16 * MIB},       // exactly four times fits
      {32 * MIB, 16 * GIB, 128 * MIB},
      {480 * MIB, 16 * GIB, 512 * MIB},    // capped
      {0xFFFFFFFFu, 16 * GIB, 512 * MIB},  // no overflow on the way
      {32 * MIB, 1 * GIB, 128 * MIB},      // an eighth of the memory
      {32 * MIB, 1 * GIB - 1, 64 * MIB},   // rounded down to a power of two
      {32 * MIB, 256 * MIB, 32 * MIB},
      {32 * MIB, 32 * MIB, 8 * MIB},       // never below the window
      {32 * MIB, 0, 128 * MIB},            // memory unknown: no cap from it
      // A 64-bit process: the larger cap, the same eighth of the memory.
      {480 * MIB, 16 * GIB, 2 * GIB, RAM_SPAN_MAX_BYTES_64BIT},
      {0xFFFFFFFFu, 64 * GIB, 2 * GIB, RAM_SPAN_MAX_BYTES_64BIT},
      {480 * MIB, 8 * GIB, 1 * GIB, RAM_SPAN_MAX_BYTES_64BIT},
      {32 * MIB, 16 * GIB, 128 * MIB, RAM_SPAN_MAX_BYTES_64BIT},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ramSpanBytesFor(r.largest, r.memory, r.cap), r.span)
        << "largest " << r.largest << ", memory " << r.memory << ", cap " << r.cap;
  }
}

TEST(RamSpan, OutgrowsTheCachesFromFourTimesTheLargestOn) {
  const struct {
    u32 span, largest;
    bool outgrows;
  } rows[] = {
      {128 * MIB, 32 * MIB, true},  {64 * MIB, 32 * MIB, false},  // halved: the system had less
      {2048u * MIB, 508 * MIB, true}, {512 * MIB, 300 * MIB, false}, {8 * MIB, 0, false},
      {2048u * MIB, 1024u * MIB, false},  // no wrap in the product
  };
  for (const auto& r : rows)
    EXPECT_EQ(ramSpanOutgrowsCaches(r.span, r.largest), r.outgrows) << r.span << ", " << r.largest;
}

TEST(RamSpan, AreaAndHalvingSteps) {
  EXPECT_EQ(testAreaBytesFor(RAM_WINDOW_BYTES), TEST_AREA_BYTES) << "small caches: area as ever";
  EXPECT_EQ(testAreaBytesFor(128 * MIB), 132 * MIB);
  std::vector<u32> tried;
  for (u32 span = 512 * MIB; span != 0; span = nextSmallerSpan(span)) tried.push_back(span);
  EXPECT_EQ(tried, (std::vector<u32>{512 * MIB, 256 * MIB, 128 * MIB, 64 * MIB, 32 * MIB,
                                     16 * MIB, 8 * MIB}));
}

}  // namespace
}  // namespace vardelo
