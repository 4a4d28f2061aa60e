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

void sleepMs(std::uint32_t ms) { fake::platformLog().sleeps.push_back(ms); }

void setPageTextSink(PageTextSink) {}

void setPageText(std::uint32_t page, std::uint32_t controlId, const char* text) {
  fake::platformLog().texts.push_back({page, controlId, text});
}

}  // namespace platform
}  // namespace vardelo
