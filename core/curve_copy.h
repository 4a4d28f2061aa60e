// Private copies of the shared curves: each reader (a worker deriving figures, a painter, the
// report) copies a curve once and works on the copy, so that every entry it uses was read once.
#pragma once

#include "core/bench_state.h"

namespace vardelo {

// A copy of one cache curve; entries compare as signed, so NO_POINT counts as -1.
using CurveCopy = u32[CACHE_CURVE_ENTRIES];
// A copy of one RAM curve.
using RamCurveCopy = u32[RAM_CURVE_ENTRIES];

void copyCurve(const CacheCurve& from, CurveCopy& to);
void copyRamCurve(const RamCurve& from, RamCurveCopy& to);

// A curve copy with every entry NO_POINT (a latency curve that was never measured).
void clearCurveCopy(CurveCopy& curve);

}  // namespace vardelo
