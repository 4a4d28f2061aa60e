#include "tests/host/fakes/platform_fake.h"

#include "platform/platform.h"

namespace vardelo {
namespace fake {

PlatformLog& platformLog() {
  static PlatformLog log;
  return log;
}

void reset() { platformLog() = PlatformLog{}; }

}  // namespace fake

namespace platform {

void sleepMs(std::uint32_t ms) {
  auto& log = fake::platformLog();
  log.sleeps.push_back(ms);
  if (log.onSleep) log.onSleep(ms);
}

void setThreadAffinity(std::uint32_t mask) { fake::platformLog().affinityMasks.push_back(mask); }
void selectTab(std::uint32_t index) { fake::platformLog().tabsSelected.push_back(index); }
void postToMainDialog(std::uint32_t message) { fake::platformLog().posted.push_back(message); }
std::uint64_t totalPhysicalMemoryBytes() { return fake::platformLog().totalMemoryBytes; }
// Each reading of the clock is 7 ms after the one before.
std::uint32_t millisecondsNow() { return fake::platformLog().nowMs += 7; }
void callReturnAtTestArea() { ++fake::platformLog().returnCalls; }

void setPageTextSink(PageTextSink) {}

void setPageText(std::uint32_t page, std::uint32_t controlId, const char* text) {
  fake::platformLog().texts.push_back({page, controlId, text});
}

void setL3ColumnEnabled(bool) {}

}  // namespace platform
}  // namespace vardelo
