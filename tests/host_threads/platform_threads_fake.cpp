// Platform stand-ins for tests that run the workers on real threads: safe to call from any
// thread, and quick — a sleep of n milliseconds lasts n × 20 microseconds, keeping the
// workers' cadences in proportion.
#include <chrono>
#include <thread>

#include "platform/platform.h"

namespace vardelo::platform {

void sleepMs(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::microseconds(ms * 20)); }
void setPageText(std::uint32_t, std::uint32_t, const char*) {}
void setPageTextSink(PageTextSink) {}
void setThreadAffinity(std::uint32_t) {}
void selectTab(std::uint32_t) {}
void postToMainDialog(std::uint32_t) {}
std::uint64_t totalPhysicalMemoryBytes() { return 1ull << 30; }
std::uint32_t millisecondsNow() {
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}
void callReturnAtTestArea() {}

}  // namespace vardelo::platform
