// The start-up sequence up to the test buffer, the processor check and identification, the
// cache description and the checked calibration: the steps both platforms take alike. What the
// system does for them (pinning, calibrating, allocating, reporting a failure) is in
// startup_win.cpp and calibration_win.cpp, or their *_linux.cpp twins.
#include "kernels/block_read_features.h"
#include "kernels/stride_kernels.h"
#include "platform/cpu.h"
#include "platform/platform.h"
#include "startup/cache_description.h"
#include "startup/cpu_ident.h"
#include "startup/startup.h"

namespace vardelo {

StartupFatal startupFatal = showFatalAndExit;

ProcessorRefusal refuseProcessor = showProcessorRefusal;

void requireProcessor(bool supported) {
  if (!supported) refuseProcessor();
}

bool checkProcessor() {
  const bool idToggles = idFlagToggles();
  // Without the ID flag there is no CPUID to execute.
  const u32 leaf1Edx = idToggles ? cpuid(1).edx : 0;
  const ProcessorCheck check = checkProcessorFeatures(idToggles, leaf1Edx);
  if (!check.ok) return false;
  bench.machine.mmx = check.mmx;
  bench.machine.sse = check.sse;
  detectWideLoads();
  return true;
}

void calibrateClockChecked() {
  const std::string refusal = calibrateWithRetry(calibrateClock);
  if (!refusal.empty()) startupFatal(refusal.c_str(), EXIT_BAD_CLOCK);
}

void identifyProcessor() {
  const u8 vendor = vendorCode(cpuid(0).ebx);
  const u32 signature = cpuid(1).eax;
  const CpuIdentity id = decodeSignature(signature);
  bench.machine.cpuVendor = vendor;
  bench.machine.cpuSignature = signature;
  bench.machine.cpuFamily = id.family;
  bench.machine.cpuModel = id.model;
  bench.machine.cpuStepping = id.stepping;
  bench.machine.cpuClass = cpuClassOf(vendor, signature);
}

bool allocateForRamSpan(u32 spanBytes) {
  for (u32 span = spanBytes; span > RAM_WINDOW_BYTES; span = nextSmallerSpan(span)) {
    if (tryAllocateTestBuffer(testAreaBytesFor(span))) {
      bench.machine.ramSpanBytes = span;
      return true;
    }
  }
  bench.machine.ramSpanBytes = RAM_WINDOW_BYTES;
  return allocateTestBuffer(testAreaBytesFor(RAM_WINDOW_BYTES));
}

void readCacheDescription() {
  bench.machine.caches = describeCaches(cpuidSub);
  const CpuidRegs leaf1 = cpuid(1);
  const u32 clflushBytes = clflushLineBytes(leaf1.ebx, leaf1.edx);
  bench.machine.clflushBytes = clflushBytes;
  const u32 maxLeaf = cpuid(0).eax;
  bench.machine.clflushOpt = clflushOptPresent(clflushBytes, maxLeaf, maxLeaf >= 7 ? cpuid(7).ebx : 0);
}

void startupThroughBuffer() {
  pinThreadToProcessor0();
  recordPlatformFacts();
  requireProcessor(checkProcessor());
  pinProcessToProcessor0();
  settle();
  calibrateClockChecked();
  settle();
  identifyProcessor();
  readCacheDescription();
  const u32 largest = largestCacheBytes(bench.machine.caches);
  const u32 span = ramSpanBytesFor(largest, platform::totalPhysicalMemoryBytes(), ramSpanCap());
  if (!allocateForRamSpan(span)) return;
  bench.machine.ramSpanOutgrowsCaches = ramSpanOutgrowsCaches(bench.machine.ramSpanBytes, largest);
  // One access every 32 bytes over the first RAM window before any measurement.
  strideReadTicks(0, 0, RAM_BLOCK_BYTES[0]);
}

}  // namespace vardelo
