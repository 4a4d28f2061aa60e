// The statistics of a RAM curve (core/figures.h): over its measured entries from the first, the
// lowest and the highest speed, their average, and the speed of linear access (entry 96). The
// RAM worker derives them as each point arrives; the pages format them.
#pragma once

#include "core/curve_copy.h"
#include "core/figures.h"

namespace vardelo {

// Nothing (points 0) for a curve whose first entry is unmeasured. The lowest compares unsigned,
// the highest signed, as the page always has.
RamCurveStats ramCurveStats(const RamCurveCopy& curve);

// The statistics' home of a curve of bench (readCurves, writeCurves, writeMmxCurves), or null
// for any other curve.
SharedRamStats* sharedStatsOf(const RamCurve& curve);

// Derives the statistics of `curve` and stores them in its home, if it has one.
void publishRamStats(const RamCurve& curve);

}  // namespace vardelo
