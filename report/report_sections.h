// The sections of the console companion's JSON report, written from BenchState.
#pragma once

#include <map>
#include <string>

#include "core/bench_state.h"
#include "core/figures.h"
#include "report/json_writer.h"

namespace vardelo {

// Index 0..3 of a RAM block size (32, 64, 128, 256); 3 for anything else.
int blockIndex(u32 block);

// Points 0..159 of a cache curve measured so far (stops at the first NO_POINT).
u32 measuredPoints(const CacheCurve& curve);

// "cache": readMode and its load width in bits, fillMode, lineSize, cacheMax, the values the
// figures build on and which curve showed the L1 and the L2 edge, the 160 points with their
// block sizes, speeds and load latency (1/256 ticks and picoseconds), the four unmeasured slots,
// the texts of the cache page's fields and "figures", each figure as a number with its source.
void writeCacheSection(JsonWriter& json, const CacheFigures& figures,
                       const std::map<u32, std::string>& fields);

// "figures": per figure {"bytes"|"kibps"|"mib": n, "source": name}, null while unset.
void writeFigures(JsonWriter& json, const CacheFigures& figures);

// "ram": readMax, writeMax and the measured curves, 324 entries each, by block size; a block
// size that was not measured is null; then "stats", each measured curve's statistics (null for
// a block size not measured), and "combinedMiBps", each kind's combined figure as its page
// weighs it.
void writeRamSection(JsonWriter& json, bool read, bool write,
                     const bool (&blocks)[RAM_BLOCK_KINDS]);

// "caches": each level CPUID describes (level, type, size, line, ways, sharing; 0 where not
// reported), then "cacheSource", the leaf they came from, and "largestCacheBytes".
void writeCaches(JsonWriter& json, const CacheList& caches);

// The name of a build, for the report's "build" field: "win32-x86" for a 32-bit Windows program
// (vardelo-report.exe), "linux-x86_64" for the native Linux one, and likewise for the others.
const char* buildName(bool windows, unsigned pointerBytes);

// "build": the name of the build that is running.
void writeBuild(JsonWriter& json);

// "ramSpan": the span the RAM walks rotate through, the test area that holds it, whether the
// walks start from flushed memory, the bytes one CLFLUSH covers, and the cold read speed of a
// window (KiB/s, 0 where not measured).
void writeRamSpan(JsonWriter& json);

// Target only (report_sections_x86.cpp): the processor and clock, and the strided walks.
void writeProcessor(JsonWriter& json, const char* brand, bool emulated);
void writeStrideWalks(JsonWriter& json);

}  // namespace vardelo
