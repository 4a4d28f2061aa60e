#include "ui/cache_fields.h"

#include <gtest/gtest.h>

#include <string>

#include "core/pages.h"

namespace vardelo {
namespace {

// The text of field `id`, or "(none)" when the figures leave it alone.
std::string textOf(const FieldUpdates& fields, std::uint32_t id) {
  for (int k = 0; k < fields.count; ++k) {
    if (fields.items[k].controlId == id) return fields.items[k].text;
  }
  return "(none)";
}

TEST(CacheFields, EachFigureInTheFormatOfItsField) {
  using S = FigureSource;
  const struct {
    Figure CacheFigures::*member;
    Figure value;
    std::uint8_t cpuClass;
    std::uint32_t id;
    const char* text;
  } cases[] = {
      {&CacheFigures::l2Line, figure(8, S::LineProbe), 0, FIELD_L2_LINE, "-"},  // 8 bytes or less
      {&CacheFigures::l2Line, figure(16, S::LineProbe), 0, FIELD_L2_LINE, " 16byts*"},
      {&CacheFigures::ramLine, figure(64, S::LineProbe), 0, FIELD_RAM_LINE, " 64byts"},
      {&CacheFigures::ramLine, figure(0, S::LineProbe), 0, FIELD_RAM_LINE, "-"},  // probe gave up
      {&CacheFigures::l2Size, figure(512 << 10, S::Latency), 0, FIELD_L2_SIZE, "  512K "},
      {&CacheFigures::l3Size, figure(36u << 20, S::Latency), 0, FIELD_L3_SIZE, "   36M "},
      {&CacheFigures::l3Size, figure(300u << 20, S::Latency), 0, FIELD_L3_SIZE, "  300M "},
      {&CacheFigures::l3Size, Figure{}, 0, FIELD_L3_SIZE, "(none)"},  // no L3: the cell stays empty
      {&CacheFigures::l3Speed, figure(80u << 20, S::Bandwidth), 0, FIELD_L3_SPEED, "  81920 "},
      {&CacheFigures::installedMemory, figure(24584, S::System), 0, FIELD_MEMORY_SIZE, " 24584M "},
      // Past five digits of MiB: GiB with a tenth, truncated, then whole GiB; always 8 characters.
      {&CacheFigures::installedMemory, figure(99999, S::System), 0, FIELD_MEMORY_SIZE, " 99999M "},
      {&CacheFigures::installedMemory, figure(100000, S::System), 0, FIELD_MEMORY_SIZE, "  97.6G "},
      {&CacheFigures::installedMemory, figure(128872, S::System), 0, FIELD_MEMORY_SIZE, " 125.8G "},
      {&CacheFigures::installedMemory, figure(1023999, S::System), 0, FIELD_MEMORY_SIZE,
       " 999.9G "},
      {&CacheFigures::installedMemory, figure(1024000, S::System), 0, FIELD_MEMORY_SIZE,
       "  1000G "},
      // The system did not say: an empty field, not a figure nobody measured.
      {&CacheFigures::installedMemory, figure(0, S::System), 0, FIELD_MEMORY_SIZE, ""},
      {&CacheFigures::dcacheSize, figure(32768, S::Bandwidth), 0, FIELD_DCACHE_SIZE, "   32K "},
      {&CacheFigures::icacheSize, figure(32768, S::Bandwidth), 0, FIELD_ICACHE_SIZE, "   32K "},
      {&CacheFigures::icacheSize, figure(31744, S::Bandwidth), 2, FIELD_ICACHE_SIZE, "  31k:4*"},
      {&CacheFigures::dataSpeed, figure(40960000, S::Bandwidth), 0, FIELD_DCACHE_SPEED, "  40000 "},
      {&CacheFigures::codeSpeed, figure(1024, S::Bandwidth), 0, FIELD_ICACHE_SPEED, "      1 "},
      {&CacheFigures::l2Speed, figure(10483712, S::Latency), 0, FIELD_L2_SPEED, "  10238 "},
      {&CacheFigures::ramSpeed, figure(12345678, S::Bandwidth), 0, FIELD_RAM_SPEED, " 12056 "},
      // Below 1 MiB/s a speed leaves its field alone, as does a figure not derived yet.
      {&CacheFigures::ramSpeed, figure(1023, S::Bandwidth), 0, FIELD_RAM_SPEED, "(none)"},
      {&CacheFigures::dataSpeed, Figure{}, 0, FIELD_DCACHE_SPEED, "(none)"},
      {&CacheFigures::l2Line, Figure{}, 0, FIELD_L2_LINE, "(none)"},
      {&CacheFigures::installedMemory, Figure{}, 0, FIELD_MEMORY_SIZE, "(none)"},
  };
  for (const auto& c : cases) {
    CacheFigures f;
    f.*c.member = c.value;
    const FieldUpdates fields = cacheFieldTexts(f, c.cpuClass);
    EXPECT_EQ(textOf(fields, c.id), c.text) << "field " << c.id << ", value " << c.value.value;
    EXPECT_EQ(fields.count, textOf(fields, c.id) == "(none)" ? 0 : 1) << "field " << c.id;
  }
}

}  // namespace
}  // namespace vardelo
