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
      .value("vendor", vendorName(bench.cpuVendor))
      .value("brand", brand)
      .value("signature", bench.cpuSignature.load())
      .value("family", bench.cpuFamily.load())
      .value("model", bench.cpuModel.load())
      .value("stepping", bench.cpuStepping.load())
      .value("cpuClass", u32{bench.cpuClass})
      .value("mmx", bench.mmx != 0)
      .value("sse", bench.sse != 0)
      .value("mhz", shownMhz(bench.tscRate))
      .value("emulated", emulated);
  writeCaches(json, bench.caches);
  json.endObject();
  json.value("tscRate", bench.tscRate.load()).value("rdtscOverhead", bench.rdtscOverhead.load());
}

void writeStrideWalks(JsonWriter& json) {
  json.beginObject("strideWalks").value("block", 32).value("gap", 0);
  writeWalks(json, "readTicks", strideReadTicks);
  writeWalks(json, "writeTicks", strideWriteTicks);
  json.endObject();
}

}  // namespace vardelo
