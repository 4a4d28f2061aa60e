// Which block-read variants (load widths) the processor and the system allow, and the decision
// from the raw CPUID and XCR0 bits behind the two wide ones. Platform-free: the bits are read by
// readWideLoadBits (kernels/block_read_x86.cpp) and can be made up by a test.
//
// A wide load needs the instruction set (CPUID) and the system's consent: the registers are
// usable only if the system saves and restores their state on a thread switch, which it says in
// XCR0 (read with XGETBV, itself only present when CPUID reports OSXSAVE).
#pragma once

#include "core/bench_state.h"

namespace vardelo {

// readMode values, in the order the variant choice tries them.
inline constexpr u8 READ_INT32 = 0;
inline constexpr u8 READ_MMX64 = 1;
inline constexpr u8 READ_SSE128 = 2;
inline constexpr u8 READ_AVX256 = 3;
inline constexpr u8 READ_AVX512 = 4;
inline constexpr u32 READ_VARIANT_COUNT = 5;

inline constexpr u32 CPUID1_ECX_OSXSAVE = 1u << 27;
inline constexpr u32 CPUID1_ECX_AVX = 1u << 28;
inline constexpr u32 CPUID7_EBX_AVX512F = 1u << 16;
// XCR0: SSE (bit 1) and the upper YMM halves (bit 2); for ZMM also the opmask registers (5),
// the upper ZMM halves of registers 0..15 (6) and registers 16..31 (7).
inline constexpr u32 XCR0_YMM = 0x06;
inline constexpr u32 XCR0_ZMM = 0xE6;

struct WideLoadBits {
  u32 maxLeaf = 0;   // CPUID leaf 0, EAX
  u32 leaf1Ecx = 0;  // CPUID leaf 1, ECX (when maxLeaf >= 1)
  u32 leaf7Ebx = 0;  // CPUID leaf 7 subleaf 0, EBX (when maxLeaf >= 7)
  u32 xcr0 = 0;      // XGETBV(0), low half (only when leaf1Ecx has OSXSAVE)
};

struct WideLoads {
  u8 avx;     // 256-bit loads
  u8 avx512;  // 512-bit loads
};

// avx: OSXSAVE and AVX in leaf 1, XCR0 bits 1 and 2. avx512: OSXSAVE, AVX-512F in leaf 7 (which
// must exist), XCR0 bits 1, 2, 5, 6 and 7. Without OSXSAVE the XCR0 value is ignored.
WideLoads wideLoadsFrom(const WideLoadBits& bits);

// Stores the verdict in bench.machine.avx and bench.machine.avx512.
void applyWideLoads(const WideLoads& loads);

// Whether the variant of `readMode` can run here, by the flags in bench: 0 always, 1 MMX, 2 SSE,
// 3 AVX, 4 AVX-512; false for any other value.
bool readVariantAvailable(u8 readMode);

// Width in bits of one load of the variant: 32 << readMode (32 to 512); 0 for no variant.
u32 readWidthBits(u8 readMode);

// x86 builds only (kernels/block_read_x86.cpp): the bits of this processor and system, and the
// verdict stored in bench. Needs CPUID (the start-up's processor check comes first).
WideLoadBits readWideLoadBits();
void detectWideLoads();

}  // namespace vardelo
