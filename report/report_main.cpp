// vardelo-report.exe: the console companion. Runs the program's own start-up (processor check,
// calibration, identification, test buffer) without a window and prints what it found as JSON
// on stdout; progress and warnings go to stderr.
//
//   vardelo-report.exe            processor and clock
//   vardelo-report.exe --stride   also ten 8 MiB strided read and write walks (block 32, gap 0)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/bench_state.h"
#include "kernels/stride_kernels.h"
#include "platform/cpu.h"
#include "report/emulation.h"
#include "report/json_writer.h"
#include "startup/cpu_ident.h"
#include "startup/startup.h"

namespace vardelo {
namespace {

[[noreturn]] void printFatal(const char* text, unsigned exitCode) {
  std::fprintf(stderr, "vardelo-report: %s\n", text);
  ExitProcess(exitCode);
}

const char* vendorName(u8 vendor) {
  switch (vendor) {
    case 1: return "AMD";
    case 2: return "Intel";
    default: return "other";
  }
}

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
      .value("emulated", emulated)
      .endObject();
  json.value("tscRate", bench.tscRate.load()).value("rdtscOverhead", bench.rdtscOverhead.load());
}

// Min, median and max ticks of `runs` walks of one kernel over the 8 MiB window.
void writeWalks(JsonWriter& json, const char* key, StrideTicksFn kernel, int runs) {
  std::vector<u32> ticks;
  for (int i = 0; i < runs; ++i) ticks.push_back(kernel(0, 0, 32));
  std::sort(ticks.begin(), ticks.end());
  std::vector<std::uint64_t> all(ticks.begin(), ticks.end());
  json.beginObject(key)
      .value("min", ticks.front())
      .value("median", ticks[ticks.size() / 2])
      .value("max", ticks.back())
      .array("ticks", all)
      .endObject();
}

int run(int argc, char** argv) {
  bool stride = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--stride") == 0) {
      stride = true;
    } else {
      std::fprintf(stderr, "usage: vardelo-report.exe [--stride]\n");
      return 2;
    }
  }

  startupFatal = printFatal;
  std::fprintf(stderr, "start-up: calibrating the clock...\n");
  startupThroughBuffer();

  char brand[49];
  brandString(brand);
  const char* kind = std::getenv("VARDELO_IA32");
  const bool emulated = looksEmulated(brand, kind ? kind : "");
  if (emulated) {
    std::fprintf(stderr,
                 "warning: the processor is emulated (%s); every figure below is the "
                 "emulator's, not this machine's\n",
                 brand[0] ? brand : "no brand string");
  }

  JsonWriter json;
  json.beginObject();
  writeProcessor(json, brand, emulated);
  if (stride) {
    std::fprintf(stderr, "strided walks: 10 reads, 10 writes of 8 MiB (block 32, gap 0)...\n");
    json.beginObject("strideWalks").value("block", 32).value("gap", 0);
    writeWalks(json, "readTicks", strideReadTicks, 10);
    writeWalks(json, "writeTicks", strideWriteTicks, 10);
    json.endObject();
  }
  json.endObject();
  std::printf("%s\n", json.text().c_str());
  std::fflush(stdout);
  return 0;
}

}  // namespace
}  // namespace vardelo

int main(int argc, char** argv) { ExitProcess(static_cast<UINT>(vardelo::run(argc, argv))); }
