// Host stand-ins for the platform services: they record what the logic asked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vardelo::fake {

struct PageText {
  std::uint32_t page;
  std::uint32_t controlId;
  std::string text;
};

// Everything recorded since the last reset().
struct PlatformLog {
  std::vector<PageText> texts;
  std::vector<std::uint32_t> sleeps;
};

PlatformLog& platformLog();
void reset();

}  // namespace vardelo::fake
