// Touch patterns of the strided RAM kernels, as plain C++.
//
// The kernels in stride_kernels.S walk the RAM window (8 MiB) as a run of blocks of 32, 64,
// 128 or 256 bytes, moving on by a step of block + gap bytes after each block. How densely a
// block is touched depends on the block size and on the measured line size. This file states
// those patterns once, as a table, and walks them exactly as the assembly does, so that tests
// can say which bytes a kernel touches and in which order.
//
// Nothing here checks its arguments: a walk stays within the window plus 255 bytes only while
// the step is below the window size, which the RAM sweep's gaps (about -3 KiB to +7 KiB) keep.
#pragma once

#include <cstdint>
#include <functional>

#include "core/bench_state.h"
#include "core/constants.h"

namespace vardelo {

using u64 = std::uint64_t;

// Classes of lineSize, tested in this order: at most 32 (signed), exactly 64, exactly 128,
// anything else.
enum class LineClass : u8 { UpTo32 = 0, Is64 = 1, Is128 = 2, Other = 3 };
inline constexpr int LINE_CLASSES = 4;

// The two kinds of kernel: 32-bit loads or stores at spaced offsets (read and integer write),
// and contiguous runs of 64-bit stores (streaming and MMX write).
enum class StrideFamily : u8 { Words32 = 0, Runs64 = 1 };
inline constexpr int STRIDE_FAMILIES = 2;

// Block sizes with a pattern of their own; any other block is walked as 256.
inline constexpr int STRIDE_BLOCK_KINDS = 4;

// One pattern: each iteration runs `groups` groups; a group makes `touches` accesses of
// `touchBytes` each, `touchSpacing` bytes apart starting at the pointer, then advances the
// pointer by the sub-step, which is the step shifted right by `subStepShift`.
struct StridePattern {
  u8 groups;
  u8 subStepShift;
  u8 touches;
  u8 touchBytes;
  u16 touchSpacing;

  constexpr bool operator==(const StridePattern&) const = default;
};

// Indexed [family][block 32, 64, 128, 256][line class <=32, 64, 128, other].
inline constexpr StridePattern STRIDE_PATTERNS[STRIDE_FAMILIES][STRIDE_BLOCK_KINDS][LINE_CLASSES] = {
    // Words32: one 32-bit access at each listed offset.
    {
        // block 32: +0 whatever the line size
        {{1, 0, 1, 4, 0}, {1, 0, 1, 4, 0}, {1, 0, 1, 4, 0}, {1, 0, 1, 4, 0}},
        // block 64: +0 +32 for short lines, else +0
        {{1, 0, 2, 4, 32}, {1, 0, 1, 4, 0}, {1, 0, 1, 4, 0}, {1, 0, 1, 4, 0}},
        // block 128: two full steps of +0 +32; +0 +64; +0
        {{2, 0, 2, 4, 32}, {1, 0, 2, 4, 64}, {1, 0, 1, 4, 0}, {1, 0, 1, 4, 0}},
        // block 256: four quarter steps of +0 +32; two half steps of +0 +64; +0 +128; +0
        {{4, 2, 2, 4, 32}, {2, 1, 2, 4, 64}, {1, 0, 2, 4, 128}, {1, 0, 1, 4, 0}},
    },
    // Runs64: contiguous 64-bit stores from the pointer up.
    {
        // block 32: 32 bytes
        {{1, 0, 4, 8, 8}, {1, 0, 4, 8, 8}, {1, 0, 4, 8, 8}, {1, 0, 4, 8, 8}},
        // block 64: 64 bytes
        {{1, 0, 8, 8, 8}, {1, 0, 8, 8, 8}, {1, 0, 8, 8, 8}, {1, 0, 8, 8, 8}},
        // block 128: two full steps of 64 bytes for short lines, else 128 bytes
        {{2, 0, 8, 8, 8}, {1, 0, 16, 8, 8}, {1, 0, 16, 8, 8}, {1, 0, 16, 8, 8}},
        // block 256: four quarter steps of 64; two half steps of 128; 256 bytes
        {{4, 2, 8, 8, 8}, {2, 1, 16, 8, 8}, {1, 0, 32, 8, 8}, {1, 0, 32, 8, 8}},
    },
};

constexpr LineClass lineSizeClass(i32 lineSize) {
  if (lineSize <= 32) return LineClass::UpTo32;
  if (lineSize == 64) return LineClass::Is64;
  if (lineSize == 128) return LineClass::Is128;
  return LineClass::Other;
}

// The block size a kernel walks: 32, 64 and 128 as given, anything else 256.
constexpr u32 strideBlockBytes(u32 block) {
  return block == 32 || block == 64 || block == 128 ? block : 256;
}

constexpr int strideBlockIndex(u32 block) {
  switch (strideBlockBytes(block)) {
    case 32: return 0;
    case 64: return 1;
    case 128: return 2;
    default: return 3;
  }
}

// Distance from one block to the next: gap + block as a signed 32-bit value; 0 becomes the
// block, a negative step is negated, so the walk always goes forward.
constexpr u32 strideStepBytes(i32 gap, u32 block) {
  const u32 sum = static_cast<u32>(gap) + block;  // wraps like the 32-bit add it models
  if (sum == 0) return block;
  return static_cast<i32>(sum) < 0 ? 0u - sum : sum;
}

// Iterations of a walk: one per block of the 8 MiB window.
constexpr u32 strideIterations(u32 block) { return RAM_WINDOW_BYTES / strideBlockBytes(block); }

constexpr const StridePattern& stridePattern(StrideFamily family, u32 block, i32 lineSize) {
  return STRIDE_PATTERNS[static_cast<int>(family)][strideBlockIndex(block)]
                        [static_cast<int>(lineSizeClass(lineSize))];
}

// Everything a kernel decides before its loop.
struct StrideWalk {
  StridePattern pattern;
  u32 stepBytes;
  u32 subStepBytes;
  u32 iterations;
};

constexpr StrideWalk planStrideWalk(StrideFamily family, i32 gap, u32 block, i32 lineSize) {
  const StridePattern& pattern = stridePattern(family, block, lineSize);
  const u32 step = strideStepBytes(gap, block);
  return {pattern, step, step >> pattern.subStepShift, strideIterations(block)};
}

// One access: its byte offset from the window start, its width, and the iteration it is in.
struct StrideTouch {
  u32 offset;
  u32 bytes;
  u32 iteration;
};

struct StrideWalkEnd {
  u32 offset;      // where the pointer stands after the last iteration
  u32 wraps;       // how often it went back by the window size
  u64 touchCount;  // accesses made
};

// Visits every access of the walk in the order the kernel makes it. After each group the
// pointer moves on by the sub-step; once it reaches the window end it goes back by the window
// size and the rest of that iteration's groups are skipped. `visit` may be empty.
StrideWalkEnd walkStride(const StrideWalk& walk, const std::function<void(const StrideTouch&)>& visit);

// A 64-bit tick difference as a kernel reports it: its low half, or BAD_SAMPLE when it does
// not fit in 32 bits.
constexpr u32 strideTicksResult(u64 ticks) {
  return (ticks >> 32) != 0 ? BAD_SAMPLE : static_cast<u32>(ticks);
}

}  // namespace vardelo
