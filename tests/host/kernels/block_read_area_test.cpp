#include "kernels/block_read_area.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace vardelo {
namespace {

// Every page written, no two pages (and no two lines) alike, nothing written past the end.
TEST(BlockReadArea, EveryPageGetsContentsOfItsOwn) {
  constexpr u32 PAGES = 64, PAGE = 4096;
  std::vector<u8> area(PAGES * PAGE + 64, 0xEE);
  fillWithOwnPages(area.data(), PAGES * PAGE);
  std::set<std::string> pages, lines;
  for (u32 p = 0; p < PAGES; ++p) {
    pages.insert(std::string(area.begin() + p * PAGE, area.begin() + (p + 1) * PAGE));
    for (u32 l = 0; l < PAGE; l += 64) {
      lines.insert(std::string(area.begin() + p * PAGE + l, area.begin() + p * PAGE + l + 64));
    }
  }
  EXPECT_EQ(pages.size(), PAGES);
  EXPECT_EQ(lines.size(), PAGES * PAGE / 64);
  for (u32 i = PAGES * PAGE; i < area.size(); ++i) ASSERT_EQ(area[i], 0xEE) << "byte " << i;
  // No page left as it came (here 0xEE bytes; from the system, zeros).
  for (u32 p = 0; p < PAGES; ++p) {
    u32 first;
    std::memcpy(&first, area.data() + p * PAGE, 4);
    EXPECT_EQ(first, p * PAGE / 4) << "page " << p;
  }
}

}  // namespace
}  // namespace vardelo
