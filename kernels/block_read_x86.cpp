#include "kernels/block_read.h"

#include "kernels/block_passes.h"
#include "platform/cpu.h"

namespace vardelo {

// mmx64 clears the MMX state itself (EMMS after its end time): this program's compiled code
// uses the x87 unit for floating point, which MMX registers alias. The wide kernels clear the
// upper register halves (VZEROUPPER) before they return: SSE code that runs later, in the
// system's libraries say, would otherwise pay for the dirty upper state on some processors.
const BlockReadVariant BLOCK_READ_VARIANTS[BLOCK_READ_VARIANT_COUNT] = {
    {"int32", 4, 64, vardelo_block_read_int32, nullptr},
    {"mmx64", 8, 32, vardelo_block_read_mmx64, nullptr},
    {"sse128", 16, 16, vardelo_block_read_sse128, nullptr},
    {"avx256", 32, 8, vardelo_block_read_avx256, vardelo_block_read_passes_avx256},
    {"avx512", 64, 4, vardelo_block_read_avx512, vardelo_block_read_passes_avx512},
};

namespace {

// XGETBV with ECX = 0: the state components the system saves (XCR0), low half. Executed only
// when CPUID reports OSXSAVE; elsewhere the instruction faults.
u32 readXcr0() {
  u32 low, high;
  asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0u));
  return low;
}

// The variant of bench.measuring.readMode, or null when it names none or the processor lacks it.
const BlockReadVariant* currentVariant() {
  const u8 mode = bench.measuring.readMode.load(std::memory_order_relaxed);
  return readVariantAvailable(mode) ? &BLOCK_READ_VARIANTS[mode] : nullptr;
}

}  // namespace

WideLoadBits readWideLoadBits() {
  WideLoadBits bits{};
  bits.maxLeaf = cpuid(0).eax;
  if (bits.maxLeaf >= 1) bits.leaf1Ecx = cpuid(1).ecx;
  if (bits.maxLeaf >= 7) bits.leaf7Ebx = cpuid(7).ebx;
  if ((bits.leaf1Ecx & CPUID1_ECX_OSXSAVE) != 0) bits.xcr0 = readXcr0();
  return bits;
}

void detectWideLoads() { applyWideLoads(wideLoadsFrom(readWideLoadBits())); }

u32 blockReadTicks(u32 offset, u32 length) {
  const BlockReadVariant* v = currentVariant();
  if (v == nullptr) return BAD_SAMPLE;
  const std::uint8_t* p = bench.machine.testArea.load(std::memory_order_relaxed) + offset;
  const std::uint64_t diff = v->read(p, length >> 8);
  return blockTicksFromDiff(diff, bench.machine.rdtscOverhead.load(std::memory_order_relaxed));
}

u32 blockReadPassTicks(u32 offset, u32 size) {
  const BlockReadVariant* v = currentVariant();
  if (v == nullptr) return BAD_SAMPLE;
  if (v->readPasses == nullptr) return blockReadPassTicksWith(offset, size, blockReadTicks);
  const u32 passes = blockReadPasses(size);
  const std::uint8_t* p = bench.machine.testArea.load(std::memory_order_relaxed) + offset;
  const std::uint64_t diff = v->readPasses(p, size >> 8, passes);
  return meanPassTicksFromDiff(diff, bench.machine.rdtscOverhead.load(std::memory_order_relaxed),
                               passes);
}

}  // namespace vardelo
