// Block-read kernels: the timed linear reads behind the data-read cache curve. x86 builds only:
// the reads are hand-written assembly, x86-32 in kernels/block_read.S and x86-64 in
// kernels/block_read_x64.S.
//
// A kernel reads floor(length / 256) iterations of 256 bytes from testArea + offset with one
// load width (bench.measuring.readMode) and returns the elapsed counter ticks minus
// bench.machine.rdtscOverhead. The counter reads are not serialising, so a result is accurate to a
// few ticks only; the passes of blockReadPassTicks and the repetitions of the measurement loop
// average that away, except where a pass is as short as the uncertainty: the wide variants time all
// passes at once.
#pragma once

#include <cstdint>

#include "core/bench_state.h"
#include "kernels/block_read_features.h"

// The raw kernels (cdecl; System V in 64-bit code): read `iterations` (at least 1) times 256 bytes
// from p and return the 64-bit counter difference. sse128 needs p to be a multiple of 16.
extern "C" {
std::uint64_t vardelo_block_read_int32(const std::uint8_t* p, std::uint32_t iterations);
std::uint64_t vardelo_block_read_mmx64(const std::uint8_t* p, std::uint32_t iterations);
std::uint64_t vardelo_block_read_sse128(const std::uint8_t* p, std::uint32_t iterations);
// p a multiple of 32 (avx256) or 64 (avx512); callable only where wideLoadsFrom allows them.
std::uint64_t vardelo_block_read_avx256(const std::uint8_t* p, std::uint32_t iterations);
std::uint64_t vardelo_block_read_avx512(const std::uint8_t* p, std::uint32_t iterations);
// The same reads `passes` times over between one pair of counter reads: the ticks of them all.
std::uint64_t vardelo_block_read_passes_avx256(const std::uint8_t* p, std::uint32_t iterations,
                                               std::uint32_t passes);
std::uint64_t vardelo_block_read_passes_avx512(const std::uint8_t* p, std::uint32_t iterations,
                                               std::uint32_t passes);
}

namespace vardelo {

struct BlockReadVariant {
  const char* name;
  u32 loadBytes;          // width of one load
  u32 loadsPerIteration;  // loads per 256 bytes
  std::uint64_t (*read)(const std::uint8_t* p, std::uint32_t iterations);
  // All passes over a block timed together; null where each pass is timed on its own.
  std::uint64_t (*readPasses)(const std::uint8_t* p, std::uint32_t iterations,
                              std::uint32_t passes);
};

// Indexed by bench.measuring.readMode; whether one can run here is readVariantAvailable's to say.
inline constexpr u32 BLOCK_READ_VARIANT_COUNT = READ_VARIANT_COUNT;
extern const BlockReadVariant BLOCK_READ_VARIANTS[BLOCK_READ_VARIANT_COUNT];

// Ticks of one read of `length` bytes (at least 256; the remainder below 256 is not read) at
// testArea + offset with the variant of bench.measuring.readMode. BAD_SAMPLE at once, with nothing
// read and no counter read, when readMode names no variant or the processor lacks its feature;
// BAD_SAMPLE also when the read took 2^32 ticks or more. testArea + offset must be a multiple
// of the load width: 16 bytes for readMode 2, 32 for 3, 64 for 4 (the sweeps pass multiples of
// 4096).
u32 blockReadTicks(u32 offset, u32 length);

// Mean ticks of one pass over the block of `size` bytes at testArea + offset, over
// blockReadPasses(size) passes; BAD_SAMPLE if any pass was. The 32-, 64- and 128-bit variants
// time each pass on its own; the wide ones, whose passes over the smallest blocks last only a
// few dozen ticks, time all passes together (meanPassTicksFromDiff).
u32 blockReadPassTicks(u32 offset, u32 size);

}  // namespace vardelo
