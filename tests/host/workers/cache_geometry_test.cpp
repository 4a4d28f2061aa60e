#include "workers/cache_geometry.h"

#include <gtest/gtest.h>

namespace vardelo {
namespace {

TEST(CacheGeometry, SweepBlockSizes) {
  const struct {
    u32 point;
    u32 bytes;
  } cases[] = {
      {0, 4608},     {1, 4608},     {2, 4608},     {3, 4864},     {4, 5120},
      {15, 7936},    {16, 8192},    {32, 16384},   {48, 32768},   {49, 34816},
      {64, 65536},   {80, 131072},  {96, 262144},  {112, 524288}, {128, 1048576},
      {144, 2097152}, {159, 4063232},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sweepBlockSize(c.point), c.bytes) << "point " << c.point;
  }
}

TEST(CacheGeometry, CurvePointSizesBelowPoint32AreWholeKiBWithoutTheFloor) {
  // Points in groups: points 0-3 stand for 4096 bytes, 4-7 for 5120, ..., 30-31 for 15360.
  const struct {
    u32 first, last, bytes;
  } groups[] = {
      {0, 3, 4096},   {4, 7, 5120},   {8, 11, 6144},  {12, 15, 7168},
      {16, 17, 8192}, {18, 19, 9216}, {28, 29, 14336}, {30, 31, 15360},
  };
  for (const auto& g : groups) {
    for (u32 i = g.first; i <= g.last; ++i) {
      EXPECT_EQ(curvePointSize(i), g.bytes) << "point " << i;
    }
  }
}

TEST(CacheGeometry, CurvePointSizeMatchesSweepSizeFromPoint32AndEndsAtFourMiB) {
  for (u32 i = 32; i < 160; ++i) {
    EXPECT_EQ(curvePointSize(i), sweepBlockSize(i)) << "point " << i;
  }
  EXPECT_EQ(curvePointSize(47), 31744u);
  EXPECT_EQ(curvePointSize(59), 55296u);
  EXPECT_EQ(curvePointSize(160), 4194304u);
}

TEST(CacheGeometry, HighestPowerOfTwoNotAbove) {
  const struct {
    u32 x, power;
  } cases[] = {
      {0, 1},          {1, 1},          {2, 2},           {3, 2},
      {4, 4},          {767, 512},      {768, 512},       {1023, 512},
      {1024, 1024},    {47616, 32768},  {55296, 32768},   {65536, 65536},
      {0x7FFFFFFF, 0x40000000},         {0xFFFFFFFF, 0x80000000},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(highestPowerOfTwoNotAbove(c.x), c.power) << "x " << c.x;
  }
}

}  // namespace
}  // namespace vardelo
