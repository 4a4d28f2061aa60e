// The start-up pieces on the real processor under Wine. Each CTest test runs in its own process,
// so the one-second calibration runs once per test run, in the one test that needs it.
#include "startup/startup.h"

#include <windows.h>
#include <psapi.h>

#include <cpuid.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "platform/cpu.h"
#include "startup/cpu_ident.h"

namespace vardelo {
namespace {

bool emulated() {
  const char* kind = std::getenv("VARDELO_IA32");
  return kind != nullptr && std::strcmp(kind, "emulated") == 0;
}

// CPUID through the compiler's own header, apart from the code under test.
CpuidRegs referenceCpuid(u32 leaf) {
  CpuidRegs r{};
  __cpuid_count(leaf, 0, r.eax, r.ebx, r.ecx, r.edx);
  return r;
}

// The first processor's block of Linux's /proc/cpuinfo, key -> value; empty if not readable.
std::map<std::string, std::string> linuxCpuinfo() {
  std::map<std::string, std::string> fields;
  std::ifstream in("Z:\\proc\\cpuinfo");
  std::string line;
  while (std::getline(in, line) && !line.empty()) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string key = line.substr(0, colon);
    key.erase(key.find_last_not_of(" \t") + 1);
    const auto valueStart = line.find_first_not_of(' ', colon + 1);
    fields[key] = valueStart == std::string::npos ? "" : line.substr(valueStart);
  }
  return fields;
}

// The counter frequency Linux measured or was told, in kHz; 0 when it shows none.
u64 linuxTscKHz() {
  std::ifstream exact("Z:\\sys\\devices\\system\\cpu\\cpu0\\tsc_freq_khz");
  u64 khz = 0;
  if (exact >> khz && khz != 0) return khz;
  const auto fields = linuxCpuinfo();
  const auto mhz = fields.find("cpu MHz");
  if (mhz == fields.end()) return 0;
  return static_cast<u64>(std::strtod(mhz->second.c_str(), nullptr) * 1000.0 + 0.5);
}

TEST(ProcessorOnTarget, IdFlagTogglesAndIsRestored) {
  const u32 before = __builtin_ia32_readeflags_u32();
  EXPECT_TRUE(idFlagToggles());
  const u32 after = __builtin_ia32_readeflags_u32();
  EXPECT_EQ(after & 0x200000, before & 0x200000) << "ID flag left changed";
}

TEST(ProcessorOnTarget, CheckPassesAndSetsTheFeatureBytes) {
  const u32 edx = referenceCpuid(1).edx;
  bench.machine.mmx = 7;
  bench.machine.sse = 7;
  ASSERT_TRUE(checkProcessor());
  EXPECT_EQ(bench.machine.mmx.load(), (edx >> 23) & 1);
  EXPECT_EQ(bench.machine.sse.load(), (edx >> 25) & 1);
}

TEST(ProcessorOnTarget, IdentificationAgreesWithCpuid) {
  identifyProcessor();
  const CpuidRegs leaf0 = referenceCpuid(0);
  const u32 signature = referenceCpuid(1).eax;
  char vendor[13];
  vendorString(vendor);
  EXPECT_EQ(std::memcmp(vendor, &leaf0.ebx, 4), 0) << vendor;
  const u8 wantVendor = std::strcmp(vendor, "AuthenticAMD") == 0   ? VENDOR_AMD
                        : std::strcmp(vendor, "GenuineIntel") == 0 ? VENDOR_INTEL
                                                                   : VENDOR_OTHER;
  EXPECT_EQ(bench.machine.cpuVendor.load(), wantVendor) << vendor;
  EXPECT_EQ(bench.machine.cpuSignature.load(), signature);
  const CpuIdentity id = decodeSignature(signature);
  EXPECT_EQ(bench.machine.cpuFamily.load(), id.family);
  EXPECT_EQ(bench.machine.cpuModel.load(), id.model);
  EXPECT_EQ(bench.machine.cpuStepping.load(), id.stepping);
  EXPECT_EQ(bench.machine.cpuClass.load(), cpuClassOf(wantVendor, signature));

  char brand[49];
  brandString(brand);
  std::printf("vendor %s (%u), family 0x%X model 0x%X stepping 0x%X, class %u, brand \"%s\"\n",
              vendor, bench.machine.cpuVendor.load(), bench.machine.cpuFamily.load(),
              bench.machine.cpuModel.load(), bench.machine.cpuStepping.load(),
              bench.machine.cpuClass.load(), brand);

  // Linux decoded the same registers on its own; under an emulator the two see different
  // processors.
  const auto cpuinfo = linuxCpuinfo();
  if (emulated() || cpuinfo.empty()) GTEST_SKIP() << "no native /proc/cpuinfo to compare with";
  EXPECT_EQ(cpuinfo.at("vendor_id"), vendor);
  EXPECT_EQ(cpuinfo.at("cpu family"), std::to_string(bench.machine.cpuFamily.load()));
  EXPECT_EQ(cpuinfo.at("stepping"), std::to_string(bench.machine.cpuStepping.load()));
  // Linux adds the extended model from family 6 on; the two agree for family 15 or when
  // the extended model is 0.
  if (baseFamily(signature) == 15 || ((signature >> 16) & 0xF) == 0) {
    EXPECT_EQ(cpuinfo.at("model"), std::to_string(bench.machine.cpuModel.load()));
  }
  std::string trimmed = brand;
  trimmed.erase(trimmed.find_last_not_of(' ') + 1);
  EXPECT_EQ(cpuinfo.at("model name"), trimmed);
}

TEST(StartupOnTarget, SettleRestoresTheMaskAndPinningLeavesProcessor0) {
  HANDLE process = GetCurrentProcess();
  DWORD_PTR before = 0, after = 0, systemMask = 0;
  ASSERT_TRUE(GetProcessAffinityMask(process, &before, &systemMask));
  // With two processors, start from a mask other than 1 so that the restore shows.
  if ((systemMask & 3) == 3) {
    ASSERT_TRUE(SetProcessAffinityMask(process, 3));
    before = 3;
  }
  settle();
  ASSERT_TRUE(GetProcessAffinityMask(process, &after, &systemMask));
  EXPECT_EQ(after, before) << "settle did not restore the process mask";

  pinThreadToProcessor0();
  pinProcessToProcessor0();
  ASSERT_TRUE(GetProcessAffinityMask(process, &after, &systemMask));
  EXPECT_EQ(after, DWORD_PTR{1});
  // Setting the thread mask hands back the one it had.
  EXPECT_EQ(SetThreadAffinityMask(GetCurrentThread(), 1), DWORD_PTR{1});
}

// Decides on facts that load cannot flip. Load only lowers the measured rate (a thread held up
// outside the counter's interval lengthens the millisecond interval alone) and only by the time
// it was held up, while the faults worth catching (a wrong unit, a wrong shift, a wrong interval)
// are off by a factor of two or far more. So the rate must lie between a quarter and one and a
// half times Linux's clock; how close it comes is printed, for the record, not judged.
TEST(CalibrationOnTarget, TscRateIsOfTheOrderOfLinuxClock) {
  if (emulated()) GTEST_SKIP() << "the counter rate only means something on a native processor";
  const u64 khz = linuxTscKHz();
  if (khz == 0) GTEST_SKIP() << "Linux shows no clock to compare with";
  pinThreadToProcessor0();
  pinProcessToProcessor0();
  SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS);
  calibrateClock();
  EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), DWORD{NORMAL_PRIORITY_CLASS});

  const u32 rate = bench.machine.tscRate.load();
  const double want = static_cast<double>(khz) * 1000.0 / 1024.0;
  std::printf("tscRate %u (shown %u MHz), Linux %llu kHz -> %.0f (%+.2f %%), rdtscOverhead %u\n",
              rate, shownMhz(rate), static_cast<unsigned long long>(khz), want,
              (rate / want - 1.0) * 100.0, bench.machine.rdtscOverhead.load());
  EXPECT_TRUE(tscRatePlausible(rate)) << rate;
  EXPECT_GT(rate, want / 4) << "Linux reports " << khz << " kHz";
  EXPECT_LT(rate, want * 1.5) << "Linux reports " << khz << " kHz";
  EXPECT_LT(bench.machine.rdtscOverhead.load(), RDTSC_OVERHEAD_START - 1) << "no pair was measured";
}

TEST(TestBufferOnTarget, AreaIsAlignedInsideTheBufferAndExecutable) {
  ASSERT_TRUE(allocateTestBuffer());
  u8* buffer = static_cast<u8*>(GlobalLock(bench.machine.bufferHandle.load()));
  GlobalUnlock(bench.machine.bufferHandle.load());
  u8* area = bench.machine.testArea.load();
  const auto areaAddress = reinterpret_cast<std::uintptr_t>(area);
  EXPECT_EQ(areaAddress % TEST_AREA_ALIGN, 0u);
  EXPECT_LT(static_cast<u32>(area - buffer), TEST_AREA_ALIGN);
  EXPECT_EQ(GlobalLock(bench.machine.bufferHandle.load()), buffer) << "the block moved";
  GlobalUnlock(bench.machine.bufferHandle.load());
  ASSERT_GE(GlobalSize(bench.machine.bufferHandle.load()), TEST_BUFFER_BYTES);

  MEMORY_BASIC_INFORMATION info{};
  for (u8* p = area; p < area + TEST_AREA_BYTES;
       p = static_cast<u8*>(info.BaseAddress) + info.RegionSize) {
    ASSERT_TRUE(VirtualQuery(p, &info, sizeof info));
    EXPECT_EQ(info.Protect, DWORD{PAGE_EXECUTE_READWRITE})
        << "at offset 0x" << std::hex << (p - area);
  }

  // mov eax, imm32; ret -- at the start of the area and in its last bytes.
  for (u32 offset : {0u, TEST_AREA_BYTES - 6}) {
    u8* code = area + offset;
    const u8 bytes[6] = {0xB8, u8(offset), u8(offset >> 8), u8(offset >> 16), 0x5A, 0xC3};
    std::memcpy(code, bytes, sizeof bytes);
    FlushInstructionCache(GetCurrentProcess(), code, sizeof bytes);
    const u32 got = reinterpret_cast<u32 (*)()>(code)();
    EXPECT_EQ(got, offset | 0x5A000000u) << "code at offset 0x" << std::hex << offset;
  }
}

SIZE_T workingSetBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.WorkingSetSize;
}

// A page that was only ever read may be the system's shared zero page (Linux under Wine): it
// then adds nothing to the working set, and reads of it never leave the first-level cache.
TEST(TestBufferOnTarget, EveryPageOfTheAreaHasMemoryOfItsOwn) {
  const SIZE_T before = workingSetBytes();
  ASSERT_TRUE(allocateTestBuffer());
  const SIZE_T after = workingSetBytes();
  EXPECT_GE(after - before, SIZE_T{TEST_AREA_BYTES} - TEST_AREA_BYTES / 16)
      << "working set " << (before >> 10) << " KiB before, " << (after >> 10) << " KiB after";
}

TEST(TestBufferOnTarget, FailedAllocationIsReportedAndLeavesStateAlone) {
  static std::string reportedText;
  static unsigned reportedCode;
  reportedCode = 0;
  const StartupFatal saved = startupFatal;
  startupFatal = [](const char* text, unsigned exitCode) {
    reportedText = text;
    reportedCode = exitCode;
  };
  u8* areaBefore = bench.machine.testArea.load();
  const bool ok = allocateTestBuffer(0x7FF00000);  // cannot fit in a 32-bit address space
  startupFatal = saved;
  EXPECT_FALSE(ok);
  EXPECT_EQ(reportedCode, EXIT_NO_BUFFER);
  EXPECT_NE(reportedText.find("allocating the test buffer"), std::string::npos) << reportedText;
  EXPECT_EQ(bench.machine.testArea.load(), areaBefore);
}

}  // namespace
}  // namespace vardelo
