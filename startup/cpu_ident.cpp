#include "startup/cpu_ident.h"

namespace vardelo {

u8 vendorCode(u32 leaf0Ebx) {
  if (leaf0Ebx == VENDOR_EBX_AMD) return VENDOR_AMD;
  if (leaf0Ebx == VENDOR_EBX_INTEL) return VENDOR_INTEL;
  return VENDOR_OTHER;
}

u32 baseFamily(u32 signature) { return (signature >> 8) & 0xF; }

CpuIdentity decodeSignature(u32 signature) {
  CpuIdentity id{baseFamily(signature), (signature >> 4) & 0xF, signature & 0xF};
  if (id.family == 15) {
    id.family += (signature >> 20) & 0xFF;
    id.model += ((signature >> 16) & 0xF) * 16;
  }
  return id;
}

u8 cpuClassOf(u8 vendor, u32 signature) {
  const u32 family = baseFamily(signature);
  if (vendor == VENDOR_AMD && family >= 6) return CLASS_AMD_FAMILY6_UP;
  if (vendor == VENDOR_INTEL && family > 6) return CLASS_INTEL_FAMILY15;
  return CLASS_OTHER;
}

ProcessorCheck checkProcessorFeatures(bool idToggles, u32 leaf1Edx) {
  if (!idToggles || (leaf1Edx & FEATURE_TSC) == 0) return {false, 0, 0};
  return {true, u8((leaf1Edx & FEATURE_MMX) != 0), u8((leaf1Edx & FEATURE_SSE) != 0)};
}

u32 tscRateFrom(std::uint64_t ticks, u32 ms) {
  // GetTickCount over a 1000 ms sleep cannot give 0; the guard only keeps this total.
  if (ms == 0) ms = 1;
  const std::uint64_t v = static_cast<u32>(ticks >> 10);
  return static_cast<u32>(v * 1000 / ms);
}

bool tscRatePlausible(u32 tscRate) {
  const std::uint64_t hz = std::uint64_t{tscRate} * 1024;
  return hz >= MIN_TSC_HZ && hz <= MAX_TSC_HZ;
}

std::string calibrateWithRetry(void (*calibrate)()) {
  calibrate();
  if (tscRatePlausible(bench.machine.tscRate.load())) return {};
  calibrate();
  const u32 rate = bench.machine.tscRate.load();
  if (tscRatePlausible(rate)) return {};
  return "Vardelo cannot start: the time-stamp counter measured " +
         std::to_string(std::uint64_t{rate} * 1024) +
         " ticks per second twice in a row; a rate outside 1 MHz to 100 GHz would make every "
         "figure meaningless.";
}

u32 rdtscOverheadFrom(std::span<const u32> pairTicks) {
  u32 best = RDTSC_OVERHEAD_START;
  for (u32 ticks : pairTicks) {
    if (ticks < best) best = ticks;
  }
  return best - 1;
}

std::uintptr_t alignUp(std::uintptr_t address, std::uintptr_t alignment) {
  return (address + alignment - 1) & ~(alignment - 1);
}

}  // namespace vardelo
