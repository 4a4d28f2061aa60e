#include "core/pages.h"

#include <gtest/gtest.h>

namespace vardelo {
namespace {

// The painters index bench.window.hPages and the frame marks by the chart; a chart page that mapped
// to another page's chart would paint the wrong window.
TEST(Pages, EachChartPageShowsItsOwnChartAndTheRestNone) {
  EXPECT_EQ(chartOfPage(PAGE_CACHE), Chart::Cache);
  EXPECT_EQ(chartOfPage(PAGE_READ), Chart::Read);
  EXPECT_EQ(chartOfPage(PAGE_WRITE), Chart::Write);
  EXPECT_EQ(chartOfPage(PAGE_ABOUT), Chart::None);
  EXPECT_EQ(chartOfPage(PAGE_COUNT), Chart::None);
  EXPECT_EQ(chartOfPage(0xFFFFFFFFu), Chart::None);
  for (std::uint32_t page = PAGE_CACHE; page < PAGE_ABOUT; ++page) {
    EXPECT_EQ(static_cast<std::uint32_t>(chartOfPage(page)), page);
  }
}

}  // namespace
}  // namespace vardelo
