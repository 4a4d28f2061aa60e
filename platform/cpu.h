// The processor instructions the start-up and calibration need: CPUID, the EFLAGS ID bit and
// RDTSC, on x86 of either width (the implementations are in cpu_x86.cpp).
//
// Nothing here serialises execution: readTsc is a plain RDTSC, so out-of-order execution may
// move it by a few instructions relative to its neighbours. Callers that time short stretches
// subtract the measured cost of a back-to-back pair instead.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/bench_state.h"
#include "core/processor.h"

namespace vardelo {

using u64 = std::uint64_t;

struct CpuidRegs {
  u32 eax, ebx, ecx, edx;
};

inline constexpr u32 LEAF_EXT_RANGE = 0x80000000u;  // EAX: the highest extended leaf

// CPUID with EAX = leaf and ECX = 0. Only valid once idFlagToggles() has said CPUID exists.
CpuidRegs cpuid(u32 leaf);

// CPUID with EAX = leaf and ECX = subleaf, for the leaves that list items (the caches).
CpuidRegs cpuidSub(u32 leaf, u32 subleaf);

// True when bit 21 of EFLAGS (the ID flag) can be changed, that is when CPUID is present.
// Reads EFLAGS, writes it back with the bit inverted, reads it again, then restores it.
bool idFlagToggles();

// The 64-bit time-stamp counter.
u64 readTsc();

// Cost in ticks of two RDTSC in immediate succession: the difference of the low halves.
u32 tscPairTicks();

// Executes `rounds` rounds of 16 RDTSC each and drops the values: a busy wait whose length
// follows the counter rate.
void spinTsc(u32 rounds);

// Rounds of the settle routine's busy loop for a counter span measured over its 25 ms sleep.
// Negative when the span is; the loop then runs no rounds.
constexpr i32 settleRounds(std::int64_t span, u8 cpuClass) {
  const std::int64_t divisor = cpuClass == CLASS_INTEL_FAMILY15 ? 100 : 10;
  return static_cast<i32>(span / divisor);
}

// Busy-waits on processor 0 for a time that follows the counter rate (bench.machine.cpuClass and
// what the counter runs in 25 ms), between two short sleeps, so that a measurement starts on a
// settled core; leaves the process affinity mask as it found it (platform/settle_win.cpp).
void settle();

// The 12-character vendor string of CPUID leaf 0 (EBX, EDX, ECX), NUL-terminated.
void vendorString(char out[13]);

// The 48-character brand string of the extended leaves 0x80000002..4 with leading blanks
// removed, NUL-terminated; empty when the processor does not have those leaves.
void brandString(char out[49]);

// The two strings as laid out in the registers, apart from the instructions so that the layout
// can be checked anywhere. x86 is little-endian: a register's first character is its low byte.
inline void vendorFromLeaf0(const CpuidRegs& leaf0, char out[13]) {
  std::memcpy(out + 0, &leaf0.ebx, 4);
  std::memcpy(out + 4, &leaf0.edx, 4);
  std::memcpy(out + 8, &leaf0.ecx, 4);
  out[12] = '\0';
}

// `leaves` are the results of 0x80000002, 0x80000003 and 0x80000004, each EAX, EBX, ECX, EDX.
// Some processors right-justify the brand in its 48 characters, hence the trim.
inline void brandFromLeaves(const CpuidRegs leaves[3], char out[49]) {
  char raw[49];
  for (int i = 0; i < 3; ++i) {
    const u32 regs[4] = {leaves[i].eax, leaves[i].ebx, leaves[i].ecx, leaves[i].edx};
    std::memcpy(raw + 16 * i, regs, 16);
  }
  raw[48] = '\0';
  const char* start = raw;
  while (*start == ' ') ++start;
  std::memmove(out, start, std::strlen(start) + 1);
}

}  // namespace vardelo
