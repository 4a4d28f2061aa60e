// vardelo-report.exe, and vardelo-report on x86-64 Linux: the console companion. Runs the program's
// own start-up (processor check, calibration, identification, test buffer) and its real cache sweep
// worker without a window, then runs the RAM read and write passes, and prints what they found as
// JSON on stdout: the curves, the figures the workers derived as numbers, and the texts the pages
// would show. Progress and warnings go to stderr.
//
//   vardelo-report.exe [--stride] [--no-cache] [--passes=read,write|read|write|none]
//                      [--blocks=32,64,128,256] [--help]
//   vardelo-report [--cpu=N] ... (the same options)
//
//   --cpu       Linux only: measure on processor N instead of processor 0
//   --stride    ten 8 MiB strided read and write walks (block 32, gap 0), as min/median/max
//   --no-cache  no cache sweep (the RAM passes then seed their scale from an empty curve)
//   --passes    which RAM passes to run (default both)
//   --blocks    which block sizes the RAM passes measure; the others are left at 0 (quick runs)
//   --help      the usage on stdout, exit code 0; a bad option gives it on stderr and exit code 2
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "core/bench_state.h"
#include "core/pages.h"
#include "kernels/ram_loop.h"
#include "platform/cpu.h"
#include "platform/measuring_processor.h"
#include "platform/platform.h"
#include "report/emulation.h"
#include "report/json_writer.h"
#include "report/page_texts.h"
#include "report/report_options.h"
#include "report/report_sections.h"
#include "report/size_agreement.h"
#include "startup/startup.h"
#include "ui/cache_fields.h"
#include "vardelo_version.h"
#include "workers/cache_worker.h"
#include "workers/ram_worker.h"
#include "workers/refresh.h"
#include "workers/sweep_exclusion.h"

namespace vardelo {
namespace {

ReportOptions options;

// The texts the cache worker sets on its page (the fill code and the search's progress), by page
// and field. The worker writes them while this thread reads them, so they live behind the
// store's lock.
PageTextStore pageTexts;

// The page-text sink: stores the text, and shows the fill search's progress on stderr.
void recordPageText(u32 page, u32 controlId, const char* text) {
  pageTexts.set(page, controlId, text);
  if (page == PAGE_CACHE && controlId == FIELD_FILL_LABEL && text[0] == '<') {
    std::fprintf(stderr, "\rfill search %-27s best %s", text,
                 pageTexts.text(PAGE_CACHE, FIELD_FILL_MODE).c_str());
    if (std::strchr(text, '>') - text == 26) std::fputc('\n', stderr);
  }
}

// The cache page's texts: the worker's own, and each figure as the page formats it.
std::map<u32, std::string> cachePageTexts(const CacheFigures& figures) {
  std::map<u32, std::string> fields = pageTexts.page(PAGE_CACHE);
  const FieldUpdates shown = cacheFieldTexts(figures, bench.machine.cpuClass.load());
  for (int i = 0; i < shown.count; ++i) fields[shown.items[i].controlId] = shown.items[i].text;
  return fields;
}

[[noreturn]] void printFatal(const char* text, unsigned exitCode) {
  std::fprintf(stderr, "vardelo-report: %s\n", text);
  platform::exitProcess(exitCode);
}

// Nobody sees a message box of a console program that a script runs: say it on stderr.
[[noreturn]] void printProcessorRefusal() { printFatal(CPU_NOT_SUPPORTED, EXIT_NO_CPU); }

// Seconds each phase took, measured at the 350 ms polls: the data sweep (with the read-variant
// choice), the latency probe, the line probes and the fill search, the code sweep; the read
// pass, the write pass.
struct PhaseTimes {
  double data = 0, latency = 0, probesAndSearch = 0, code = 0, readPass = 0, writePass = 0;
} phases;

double secondsSince(u32 startMs) { return (platform::millisecondsNow() - startMs) / 1000.0; }

// Runs the real cache worker on its own thread and follows its progress every 350 ms.
void runCacheSweep() {
  startCacheWorkerThread();
  u32 shown = 0;
  const u32 started = platform::millisecondsNow();
  for (;;) {
    platform::sleepMs(REFRESH_PERIOD_MS);
    const u32 data = measuredPoints(bench.results.dcacheCurve),
              code = measuredPoints(bench.results.icacheCurve);
    const u32 latency = measuredPoints(bench.results.latencyCurve);
    if (data == CACHE_POINTS && phases.data == 0) phases.data = secondsSince(started);
    if (phases.data != 0 && latency == CACHE_POINTS && phases.latency == 0) {
      phases.latency = secondsSince(started) - phases.data;
    }
    if (code > 0 && phases.probesAndSearch == 0) {
      phases.probesAndSearch = secondsSince(started) - phases.data - phases.latency;
    }
    if (data + code != shown && pageTexts.text(PAGE_CACHE, FIELD_FILL_LABEL).c_str()[0] != '<') {
      std::fprintf(stderr, "cache sweep: data point %u of 160, code point %u of 160\n", data, code);
      shown = data + code;
    }
    if (code == CACHE_POINTS && bench.protocol.cacheBusy.load() == 0) break;
  }
  phases.code = secondsSince(started) - phases.data - phases.latency - phases.probesAndSearch;
  std::fprintf(stderr, "cache sweep done in %.1f s\n", secondsSince(started));
}

// RAM measurements for the report: the real ones for the chosen block sizes, 0 for the others,
// with a line of progress at the start of each curve.
u32 progressOf(const char* kind, i32 gap, u32 block, u32 (*measure)(i32, u32)) {
  const int b = blockIndex(block);
  if (gap == RAM_FIRST_STEP - static_cast<i32>(block)) {
    std::fprintf(stderr, "%s pass: block %u%s\n", kind, block,
                 options.blocks[b] ? "" : " (skipped)");
  }
  return options.blocks[b] ? measure(gap, block) : 0;
}
u32 reportRead(i32 gap, u32 block) { return progressOf("read", gap, block, measureRamRead); }
u32 reportWrite(i32 gap, u32 block) { return progressOf("write", gap, block, measureRamWrite); }
u32 reportWriteMmx(i32 gap, u32 block) {
  return progressOf("MMX write", gap, block, measureRamWriteMmx);
}

// The RAM passes asked for, on this thread, in the RAM worker's turn: after the cache worker and
// under the claim the RAM worker takes.
void runRamPasses() {
  static const RamOps ops{reportRead, reportWrite, reportWriteMmx, settle, primeRamSpan};
  bench.protocol.cacheBusy.store(0);  // without a cache sweep nothing else clears it
  bench.protocol.ramRestart.store(static_cast<u8>((options.readPass ? RAM_READ_BIT : 0) |
                                                  (options.writePass ? RAM_WRITE_BIT : 0)));
  if (!awaitRamTurn()) return;
  u32 started = platform::millisecondsNow();
  if (options.readPass) ramReadPass(ops);
  phases.readPass = secondsSince(started);
  started = platform::millisecondsNow();
  if (options.writePass) ramWritePass(ops);
  phases.writePass = secondsSince(started);
  endRamPasses();
  std::fprintf(stderr, "RAM passes done in %.1f s\n", phases.readPass + phases.writePass);
}

int run(int argc, char** argv) {
  const ParsedOptions parsed = parseReportOptions(argc, argv);
  if (parsed.verdict == OptionsVerdict::Help) {
    std::fputs(REPORT_USAGE, stdout);
    std::fflush(stdout);
    return 0;
  }
  if (parsed.verdict == OptionsVerdict::Bad) {
    std::fprintf(stderr, "vardelo-report: %s\n%s", parsed.message.c_str(), REPORT_USAGE);
    return 2;
  }
  options = parsed.options;
  platform::measuringProcessor = options.cpu;
  startupFatal = printFatal;
  refuseProcessor = printProcessorRefusal;
  platform::setPageTextSink(recordPageText);
  std::fprintf(stderr, "start-up: calibrating the clock...\n");
  startupThroughBuffer();

  char brand[49];
  brandString(brand);
  // VARDELO_IA32 says how this machine runs 32-bit code; a 64-bit program runs natively.
  const char* kind = sizeof(void*) == 4 ? std::getenv("VARDELO_IA32") : nullptr;
  const bool emulated = looksEmulated(brand, kind ? kind : "");
  if (emulated) {
    std::fprintf(stderr,
                 "warning: the processor is emulated (%s); every figure below is the "
                 "emulator's, not this machine's\n",
                 brand[0] ? brand : "no brand string");
  }

  JsonWriter json;
  json.beginObject();
  json.value("version", VARDELO_VERSION);
  writeBuild(json);
  writeProcessor(json, brand, emulated);
  if (options.stride) {
    std::fprintf(stderr, "strided walks: 10 reads, 10 writes of 8 MiB (block 32, gap 0)...\n");
    writeStrideWalks(json);
  }
  if (options.cache) {
    runCacheSweep();
    const CacheFigures figures = bench.results.cacheFigures.load();
    const std::map<u32, std::string> fields = cachePageTexts(figures);
    writeCacheSection(json, figures, fields);
    writeDerivedSizes(json, compareDerivedSizes(figures, fields, bench.machine.caches));
  }
  if (options.readPass || options.writePass) {
    runRamPasses();
    writeRamSection(json, options.readPass, options.writePass, options.blocks);
  }
  writeRamSpan(json);
  json.beginObject("seconds")
      .value("dataSweep", phases.data)
      .value("latencyProbe", phases.latency)
      .value("probesAndFillSearch", phases.probesAndSearch)
      .value("l3Probe", bench.results.farLatencies.load().probeMs / 1000.0)  // within the above
      .value("codeSweep", phases.code)
      .value("readPass", phases.readPass)
      .value("writePass", phases.writePass)
      .endObject();
  json.endObject();
  std::printf("%s\n", json.text().c_str());
  std::fflush(stdout);
  return 0;
}

}  // namespace
}  // namespace vardelo

int main(int argc, char** argv) {
  vardelo::platform::exitProcess(static_cast<unsigned>(vardelo::run(argc, argv)));
}
