#include "core/curve_copy.h"

#include <algorithm>

namespace vardelo {

void copyCurve(const CacheCurve& from, CurveCopy& to) {
  for (int i = 0; i < CACHE_CURVE_ENTRIES; ++i) to[i] = from[i].load(std::memory_order_relaxed);
}

void copyRamCurve(const RamCurve& from, RamCurveCopy& to) {
  for (int i = 0; i < RAM_CURVE_ENTRIES; ++i) to[i] = from[i].load(std::memory_order_relaxed);
}

void clearCurveCopy(CurveCopy& curve) { std::fill(std::begin(curve), std::end(curve), NO_POINT); }

}  // namespace vardelo
