#include "kernels/line_probe.h"

#include "kernels/ram_loop.h"
#include "kernels/stride_kernels.h"

namespace vardelo {

std::uint64_t linePassAtTestArea(u32 lengthBytes, u32 strideBytes) {
  return vardelo_line_probe_pass(bench.machine.testArea.load(), lengthBytes, strideBytes);
}

std::uint64_t linePassOverColdWindow(u32 lengthBytes, u32 strideBytes) {
  const u32 offset = takeRamWindow(flushTestArea, lengthBytes);
  return vardelo_line_probe_pass(bench.machine.testArea.load() + offset, lengthBytes, strideBytes);
}

}  // namespace vardelo
