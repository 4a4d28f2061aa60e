// The processor the measuring threads run on. The logic asks for "processor 0"
// (PROCESSOR_0_MASK); the Linux platform layer pins to this processor instead, so that the native
// report can measure on any processor it is given (--cpu). The Windows programs always take
// processor 0 and never change it.
#pragma once

#include <cstdint>

namespace vardelo::platform {

// Set once, before the start-up pins anything and before any thread starts.
inline std::uint32_t measuringProcessor = 0;

}  // namespace vardelo::platform
