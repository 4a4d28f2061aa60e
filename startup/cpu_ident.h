// The arithmetic and decisions of the processor check, the identification and the clock
// calibration, apart from the instructions and system calls that feed them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "core/bench_state.h"
#include "core/processor.h"

namespace vardelo {

// First four characters of the vendor string (CPUID leaf 0, EBX), little-endian.
inline constexpr u32 VENDOR_EBX_AMD = 0x68747541u;    // "Auth"
inline constexpr u32 VENDOR_EBX_INTEL = 0x756E6547u;  // "Genu"

// CPUID leaf 1 EDX feature bits.
inline constexpr u32 FEATURE_TSC = 1u << 4;
inline constexpr u32 FEATURE_MMX = 1u << 23;
inline constexpr u32 FEATURE_SSE = 1u << 25;

u8 vendorCode(u32 leaf0Ebx);

u32 baseFamily(u32 signature);

struct CpuIdentity {
  u32 family;
  u32 model;
  u32 stepping;
};

// Family, model and stepping from the leaf-1 signature. The extended family and model count
// only for base family 15; family 6 keeps its 4-bit model.
CpuIdentity decodeSignature(u32 signature);

u8 cpuClassOf(u8 vendor, u32 signature);

struct ProcessorCheck {
  bool ok;  // CPUID and the time-stamp counter are present
  u8 mmx;
  u8 sse;
};

// The start-up's verdict on the processor. leaf1Edx is ignored when the ID flag does not toggle
// (there is no CPUID to read it with).
ProcessorCheck checkProcessorFeatures(bool idToggles, u32 leaf1Edx);

// Counter ticks per 1/1024 second from `ticks` counted within `ms` milliseconds: bits 10..41 of
// the tick count, times 1000, over ms, truncated to 32 bits.
u32 tscRateFrom(std::uint64_t ticks, u32 ms);

// Counter rates the calibration accepts, in ticks per second. Every x86 counter runs within
// these with a wide margin; a rate outside (0 after a stalled or skipped sleep, or a wild counter
// jump) would scale every speed of the program by nonsense.
inline constexpr std::uint64_t MIN_TSC_HZ = 1'000'000;
inline constexpr std::uint64_t MAX_TSC_HZ = 100'000'000'000;

bool tscRatePlausible(u32 tscRate);

// Runs `calibrate`, which sets bench.machine.tscRate, and once more when the rate is not plausible:
// one upset (the machine suspended in the middle, a virtual machine moved) should not stop the
// program. Returns the message that refuses the second rate, empty when a rate was accepted.
std::string calibrateWithRetry(void (*calibrate)());

// The start value of the cheapest-pair search; it stays when no pair is cheaper.
inline constexpr u32 RDTSC_OVERHEAD_START = 100000;

// rdtscOverhead from the costs of back-to-back counter pairs: the smallest cost below the start
// value, minus 1.
u32 rdtscOverheadFrom(std::span<const u32> pairTicks);

// The first multiple of `alignment` (a power of two) that is not below `address`.
std::uintptr_t alignUp(std::uintptr_t address, std::uintptr_t alignment);

}  // namespace vardelo
