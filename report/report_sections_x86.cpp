#include <algorithm>
#include <vector>

#include "core/processor.h"
#include "kernels/stride_kernels.h"
#include "platform/cpu.h"
#include "report/report_sections.h"
#include "startup/cpu_ident.h"

namespace vardelo {
namespace {

const char* vendorName(u8 vendor) {
  switch (vendor) {
    case VENDOR_AMD: return "AMD";
    case VENDOR_INTEL: return "Intel";
    default: return "other";
  }
}

// Min, median and max ticks of ten walks of one kernel over the 8 MiB window.
void writeWalks(JsonWriter& json, const char* key, StrideTicksFn kernel) {
  std::vector<u32> ticks;
  for (int i = 0; i < 10; ++i) ticks.push_back(kernel(0, 0, 32));
  std::vector<std::uint64_t> inOrder(ticks.begin(), ticks.end());
  std::sort(ticks.begin(), ticks.end());
  json.beginObject(key)
      .value("min", ticks.front())
      .value("median", ticks[ticks.size() / 2])
      .value("max", ticks.back())
      .array("ticks", inOrder)
      .endObject();
}

}  // namespace

void writeProcessor(JsonWriter& json, const char* brand, bool emulated) {
  char vendor[13];
  vendorString(vendor);
  json.beginObject("processor")
      .value("vendorString", vendor)
      .value("vendor", vendorName(bench.machine.cpuVendor))
      .value("brand", brand)
      .value("signature", bench.machine.cpuSignature.load())
      .value("family", bench.machine.cpuFamily.load())
      .value("model", bench.machine.cpuModel.load())
      .value("stepping", bench.machine.cpuStepping.load())
      .value("cpuClass", u32{bench.machine.cpuClass})
      .value("mmx", bench.machine.mmx != 0)
      .value("sse", bench.machine.sse != 0)
      .value("mhz", shownMhz(bench.machine.tscRate))
      .value("emulated", emulated);
  writeCaches(json, bench.machine.caches);
  json.endObject();
  json.value("tscRate", bench.machine.tscRate.load())
      .value("rdtscOverhead", bench.machine.rdtscOverhead.load());
}

void writeStrideWalks(JsonWriter& json) {
  json.beginObject("strideWalks").value("block", 32).value("gap", 0);
  writeWalks(json, "readTicks", strideReadTicks);
  writeWalks(json, "writeTicks", strideWriteTicks);
  json.endObject();
}

}  // namespace vardelo
