#include "kernels/block_read_features.h"

namespace vardelo {

WideLoads wideLoadsFrom(const WideLoadBits& bits) {
  if (bits.maxLeaf < 1 || (bits.leaf1Ecx & CPUID1_ECX_OSXSAVE) == 0) return {0, 0};
  const bool avx = (bits.leaf1Ecx & CPUID1_ECX_AVX) != 0 && (bits.xcr0 & XCR0_YMM) == XCR0_YMM;
  const bool avx512 = bits.maxLeaf >= 7 && (bits.leaf7Ebx & CPUID7_EBX_AVX512F) != 0 &&
                      (bits.xcr0 & XCR0_ZMM) == XCR0_ZMM;
  return {u8(avx), u8(avx512)};
}

void applyWideLoads(const WideLoads& loads) {
  bench.machine.avx.store(loads.avx, std::memory_order_relaxed);
  bench.machine.avx512.store(loads.avx512, std::memory_order_relaxed);
}

bool readVariantAvailable(u8 readMode) {
  switch (readMode) {
    case READ_INT32: return true;
    case READ_MMX64: return bench.machine.mmx.load(std::memory_order_relaxed) != 0;
    case READ_SSE128: return bench.machine.sse.load(std::memory_order_relaxed) != 0;
    case READ_AVX256: return bench.machine.avx.load(std::memory_order_relaxed) != 0;
    case READ_AVX512: return bench.machine.avx512.load(std::memory_order_relaxed) != 0;
    default: return false;
  }
}

u32 readWidthBits(u8 readMode) { return readMode < READ_VARIANT_COUNT ? 32u << readMode : 0; }

}  // namespace vardelo
