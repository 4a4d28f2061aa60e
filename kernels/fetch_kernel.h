// The code-fetch kernel: builds the fetch loop (fetch_code.h) at the start of the test area and
// times it. x86 builds only: the loop is machine code in the form of the mode this program runs
// in (NATIVE_FETCH_MODE), and runs where it was written.
//
// The two counter reads sit inside the generated code, so no call or return is timed. Nothing
// serialises the processor around them, and the cost of a counter read is not subtracted.
#pragma once

#include <cstdint>

#include "core/bench_state.h"

// Calls the fetch loop at `code` with ECX = `passes` (at least 1), keeping EBX, ESI, EDI and EBP
// for the caller. Returns the loop's EAX (end time, low half) in the low 32 bits and its EBX
// (start time, low half) in the high 32 bits. In kernels/fetch_trampoline.S.
extern "C" std::uint64_t vardelo_call_fetch_loop(const void* code, std::uint32_t passes);

namespace vardelo {

// Ticks of one pass through a fetch loop of `size` bytes (a multiple of 64, at least 64) filled
// with bench.measuring.fillMode, or BAD_SAMPLE for a rejected fill code, in which case nothing is
// written or run. Builds the loop at bench.machine.testArea, runs it once, then fetchPasses(size)
// times, and returns the ticks of the second run divided by its passes.
u32 codeFetchTicks(u32 size);

}  // namespace vardelo
