// The caches read through the real CPUID, and the test buffer sized for a RAM span, under Wine.
#include "startup/cache_description.h"

#include <windows.h>

#include <cpuid.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "startup/startup.h"

namespace vardelo {
namespace {

constexpr u32 MIB = 1024 * 1024;

bool emulated() {
  const char* kind = std::getenv("VARDELO_IA32");
  return kind != nullptr && std::strcmp(kind, "emulated") == 0;
}

// One value of Linux's description of cache `index` of processor 0; empty if there is none.
std::string linuxCache(int index, const char* item) {
  std::ifstream in("Z:\\sys\\devices\\system\\cpu\\cpu0\\cache\\index" + std::to_string(index) +
                   "\\" + item);
  std::string value;
  std::getline(in, value);
  return value;
}

const char* linuxType(u8 type) {
  return type == CACHE_DATA ? "Data" : type == CACHE_INSTRUCTION ? "Instruction" : "Unified";
}

TEST(CacheDescriptionOnTarget, AgreesWithLinuxAndLeaf1) {
  readCacheDescription();
  const CacheList& caches = bench.machine.caches;
  unsigned eax, ebx, ecx, edx;
  __cpuid(1, eax, ebx, ecx, edx);
  EXPECT_EQ(bench.machine.clflushBytes.load(), (edx >> 19) & 1 ? ((ebx >> 8) & 0xFF) * 8 : 0u);
  for (int i = 0; i < caches.count; ++i) {
    const CacheLevelInfo& l = caches.levels[i];
    std::printf("L%u %s %u KiB, line %u, %u ways, shared by %u\n", l.level, linuxType(l.type),
                l.sizeBytes / 1024, l.lineBytes, l.ways, l.sharing);
  }

  // Linux decoded the same leaves on its own; under an emulator the two see different processors.
  if (emulated() || linuxCache(0, "size").empty()) GTEST_SKIP() << "no native Linux caches to compare";
  ASSERT_GT(caches.count, 0) << "Linux sees caches that CPUID did not describe";
  for (int i = 0; i < caches.count; ++i) {
    const CacheLevelInfo& l = caches.levels[i];
    EXPECT_EQ(linuxCache(i, "level"), std::to_string(l.level)) << "entry " << i;
    EXPECT_EQ(linuxCache(i, "type"), linuxType(l.type)) << "entry " << i;
    EXPECT_EQ(linuxCache(i, "size"), std::to_string(l.sizeBytes / 1024) + "K") << "entry " << i;
    EXPECT_EQ(linuxCache(i, "coherency_line_size"), std::to_string(l.lineBytes)) << "entry " << i;
  }
}

// Every page of the area is readable, writable and executable, first to last.
void expectWholeAreaExecutable() {
  u8* area = bench.machine.testArea.load();
  const u32 bytes = bench.machine.testAreaBytes.load();
  MEMORY_BASIC_INFORMATION info{};
  for (u8* p = area; p < area + bytes; p = static_cast<u8*>(info.BaseAddress) + info.RegionSize) {
    ASSERT_TRUE(VirtualQuery(p, &info, sizeof info));
    EXPECT_EQ(info.Protect, DWORD{PAGE_EXECUTE_READWRITE}) << "at offset 0x" << std::hex << (p - area);
  }
  area[bytes - 1] = 0x5A;
  EXPECT_EQ(area[bytes - 1], 0x5A);
}

TEST(TestBufferOnTarget, A256MiBSpanIsAllocatedWhole) {
  ASSERT_TRUE(allocateForRamSpan(256 * MIB));
  EXPECT_EQ(bench.machine.ramSpanBytes.load(), 256 * MIB);
  EXPECT_EQ(bench.machine.testAreaBytes.load(), 260 * MIB);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bench.machine.testArea.load()) % TEST_AREA_ALIGN, 0u);
  ASSERT_GE(GlobalSize(bench.machine.bufferHandle.load()), SIZE_T{260 * MIB});
  expectWholeAreaExecutable();
}

// Takes the process's free address space in 64 MiB reservations (nothing committed) until none
// fits, then gives one back: the largest free run is then under 128 MiB, whatever the machine.
class AddressSpaceTaken {
 public:
  AddressSpaceTaken() {
    while (void* p = VirtualAlloc(nullptr, CHUNK, MEM_RESERVE, PAGE_NOACCESS)) taken_.push_back(p);
    if (!taken_.empty()) {
      VirtualFree(taken_.back(), 0, MEM_RELEASE);
      taken_.pop_back();
    }
  }
  ~AddressSpaceTaken() {
    for (void* p : taken_) VirtualFree(p, 0, MEM_RELEASE);
  }
  AddressSpaceTaken(const AddressSpaceTaken&) = delete;
  AddressSpaceTaken& operator=(const AddressSpaceTaken&) = delete;
  std::size_t chunks() const { return taken_.size(); }

  static constexpr SIZE_T CHUNK = 64 * MIB;

 private:
  std::vector<void*> taken_;
};

TEST(TestBufferOnTarget, ASpanThatCannotFitIsHalvedUntilOneDoes) {
  // With no free run of 128 MiB, a 2 GiB span is halved down to 64 or 32 MiB: the test commits
  // at most 68 MiB on any machine.
  u32 span = 0;
  {
    AddressSpaceTaken taken;
    ASSERT_GT(taken.chunks(), 0u);
    ASSERT_TRUE(allocateForRamSpan(2048 * MIB));
    span = bench.machine.ramSpanBytes.load();
    std::printf("got a span of %u MiB beside %u reservations of 64 MiB\n", span / MIB,
                static_cast<unsigned>(taken.chunks()));
    EXPECT_TRUE(span == 64 * MIB || span == 32 * MIB) << span;
    EXPECT_EQ(bench.machine.testAreaBytes.load(), testAreaBytesFor(span));
    expectWholeAreaExecutable();
  }
  EXPECT_GE(span, RAM_WINDOW_BYTES);
}

TEST(TestBufferOnTarget, TheWindowAloneGetsTodaysArea) {
  ASSERT_TRUE(allocateForRamSpan(RAM_WINDOW_BYTES));
  EXPECT_EQ(bench.machine.ramSpanBytes.load(), RAM_WINDOW_BYTES);
  EXPECT_EQ(bench.machine.testAreaBytes.load(), TEST_AREA_BYTES);
  ASSERT_GE(GlobalSize(bench.machine.bufferHandle.load()), TEST_BUFFER_BYTES);
  expectWholeAreaExecutable();
}

}  // namespace
}  // namespace vardelo
