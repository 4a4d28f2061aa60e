#include "kernels/stride_pattern.h"

namespace vardelo {

StrideWalkEnd walkStride(const StrideWalk& walk, const std::function<void(const StrideTouch&)>& visit) {
  const StridePattern& pattern = walk.pattern;
  StrideWalkEnd end{0, 0, 0};
  u32 p = 0;
  for (u32 iteration = 0; iteration < walk.iterations; ++iteration) {
    for (u32 group = 0; group < pattern.groups; ++group) {
      for (u32 touch = 0; touch < pattern.touches; ++touch) {
        if (visit) visit(StrideTouch{p + touch * pattern.touchSpacing, pattern.touchBytes, iteration});
      }
      end.touchCount += pattern.touches;
      p += walk.subStepBytes;
      if (p >= RAM_WINDOW_BYTES) {
        p -= RAM_WINDOW_BYTES;
        ++end.wraps;
        break;  // a wrap ends the iteration
      }
    }
  }
  end.offset = p;
  return end;
}

}  // namespace vardelo
