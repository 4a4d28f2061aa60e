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
  std::vector<std::uint32_t> affinityMasks;
  std::vector<std::uint32_t> tabsSelected;
  std::vector<std::uint32_t> posted;   // messages posted to the main dialog
  int returnCalls = 0;                 // calls of the return instruction at the test area
  std::uint64_t totalMemoryBytes = 0;  // what the memory status reports
  std::uint32_t nowMs = 0;             // the clock's last reading
  // Called on every sleep, so a test can act "while" the logic waits (press a button, end a
  // sweep); null by default.
  void (*onSleep)(std::uint32_t ms) = nullptr;
};

PlatformLog& platformLog();
void reset();

}  // namespace vardelo::fake
