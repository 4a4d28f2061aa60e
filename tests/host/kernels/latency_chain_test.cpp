#include "kernels/latency_chain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "tests/support/chase_chain.h"

namespace vardelo {
namespace {

// Above 4 GiB, where a 64-bit process may have it: a link cut to 32 bits leaves the area.
constexpr std::uintptr_t AREA_ADDRESS = 0x7F0001230000;
constexpr u8 SENTINEL = 0xA5;

struct Walk {
  std::vector<u32> offsets;  // one lap, from the start the builder returned
  bool closed = false;       // the lap ends where it began
};

Walk walkOneLap(const std::vector<u8>& area, u32 start, u32 lines) {
  Walk walk;
  u32 offset = start;
  for (u32 k = 0; k < lines; ++k) {
    walk.offsets.push_back(offset);
    offset = chaseNextOffset(area.data(), AREA_ADDRESS, offset);
    if (offset >= area.size()) return walk;  // a link out of the area: not closed
  }
  walk.closed = offset == start;
  return walk;
}

// Block sizes of the cache sweep, with partial pages, the largest the page table covers, and
// blocks of the L3 probe beyond it (a partial page there too).
const u32 BLOCKS[] = {64,
                      4096,
                      4608,
                      4864,
                      7936,
                      34816,
                      65536,
                      1048576,
                      4063232,
                      4u << 20,
                      (4u << 20) + 4096 + 640,
                      6u << 20,
                      12u << 20};

TEST(LatencyChain, OneClosedLapThroughEveryLineOnce) {
  for (u32 block : BLOCKS) {
    std::vector<u8> area(block + 4096, SENTINEL);
    const u32 lines = chaseLines(block);
    const u32 start = buildChaseChain(area.data(), AREA_ADDRESS, block);
    const Walk walk = walkOneLap(area, start, lines);
    ASSERT_EQ(walk.offsets.size(), lines) << "block " << block << ": a link leaves the block";
    EXPECT_TRUE(walk.closed) << "block " << block;
    const std::set<u32> seen(walk.offsets.begin(), walk.offsets.end());
    EXPECT_EQ(seen.size(), lines) << "block " << block << ": a line visited twice";
    for (u32 offset : walk.offsets) {
      ASSERT_EQ(offset % CHASE_LINE_BYTES, 0u) << "block " << block;
      ASSERT_LT(offset, lines * CHASE_LINE_BYTES) << "block " << block;
    }
  }
}

TEST(LatencyChain, EveryPageIsFinishedBeforeTheNextAndBothOrdersAreShuffled) {
  for (u32 block : BLOCKS) {
    std::vector<u8> area(block, SENTINEL);
    const u32 lines = chaseLines(block);
    const Walk walk = walkOneLap(area, buildChaseChain(area.data(), AREA_ADDRESS, block), lines);
    std::vector<u32> pageOrder;
    std::set<u32> pagesDone;
    u32 inOrderLines = 0;
    for (std::size_t k = 0; k < walk.offsets.size(); ++k) {
      const u32 page = walk.offsets[k] / CHASE_PAGE_BYTES;
      if (pageOrder.empty() || pageOrder.back() != page) {
        EXPECT_EQ(pagesDone.count(page), 0u)
            << "block " << block << ": page " << page << " revisited";
        pageOrder.push_back(page);
        pagesDone.insert(page);
      }
      if (k > 0 && walk.offsets[k] == walk.offsets[k - 1] + CHASE_LINE_BYTES) ++inOrderLines;
    }
    // A shuffle leaves about one neighbour in order per page by chance; a walk in address
    // order has nearly all of them so.
    if (lines >= 64) {
      EXPECT_LT(inOrderLines, lines / 8) << "block " << block << ": lines in address order";
    }
    if (pageOrder.size() >= 16) {
      u32 inOrderPages = 0;
      for (std::size_t k = 1; k < pageOrder.size(); ++k) {
        inOrderPages += pageOrder[k] == pageOrder[k - 1] + 1;
      }
      EXPECT_LE(inOrderPages, pageOrder.size() / 4)
          << "block " << block << ": pages in address order";
    }
  }
}

TEST(LatencyChain, WritesOnlyTheFirstWordOfEachLineAndTheSameChainEveryTime) {
  const u32 block = 4608 + 64 + 32;  // a partial page and a partial line at the end
  std::vector<u8> first(block + 4096, SENTINEL), second(block + 4096, 0);
  const u32 startA = buildChaseChain(first.data(), AREA_ADDRESS, block);
  for (u32 i = 0; i < first.size(); ++i) {
    const bool linkWord =
        i < chaseLines(block) * CHASE_LINE_BYTES && i % CHASE_LINE_BYTES < CHASE_LINK_BYTES;
    if (!linkWord) {
      ASSERT_EQ(first[i], SENTINEL) << "byte " << i << " written";
    }
  }
  const u32 startB = buildChaseChain(second.data(), AREA_ADDRESS, block);
  EXPECT_EQ(startA, startB);
  for (u32 line = 0; line < chaseLines(block); ++line) {
    const u32 offset = line * CHASE_LINE_BYTES;
    EXPECT_EQ(chaseNextOffset(first.data(), AREA_ADDRESS, offset),
              chaseNextOffset(second.data(), AREA_ADDRESS, offset))
        << "line " << line;
  }
}

TEST(LatencyChain, BlocksOutsideTheContractStayInsideTheirLimits) {
  // Below one line: a chain of the one line at the start.
  std::vector<u8> tiny(64, SENTINEL);
  EXPECT_EQ(buildChaseChain(tiny.data(), AREA_ADDRESS, 10), 0u);
  EXPECT_EQ(chaseNextOffset(tiny.data(), AREA_ADDRESS, 0), 0u);
}

TEST(LatencyChain, LargeBlocksWriteNothingBehindTheirLastLine) {
  const u32 block = (6u << 20) + 100;  // a partial line at the end
  std::vector<u8> big(block + 8192, SENTINEL);
  buildChaseChain(big.data(), AREA_ADDRESS, block);
  for (u32 i = chaseLines(block) * CHASE_LINE_BYTES; i < big.size(); ++i) {
    ASSERT_EQ(big[i], SENTINEL) << "byte " << i;
  }
}

// The line probe's chain: one closed lap of 2 × slots loads, each slot's pair in turn, the two
// loads `step` apart from slot + 64 (the second load of the pair links to the next slot), both
// directions used, every slot once, and nothing written but the links.
TEST(LinePairChain, EachSlotOncePairsStepApartBothWays) {
  struct Row {
    u32 slots, slotBytes, step;
  };
  const Row rows[] = {{2, 512, 8}, {256, 512, 16}, {1000, 512, 64}, {2048, 4096, 32},
                      {2048, 4096, 256}, {LINE_PAIR_MAX_SLOTS, 512, 128}};
  for (const Row& r : rows) {
    std::vector<u8> area(r.slots * r.slotBytes, SENTINEL);
    const u32 start = buildLinePairChain(area.data(), AREA_ADDRESS, r.slots, r.slotBytes, r.step);
    const Walk walk = walkOneLap(area, start, 2 * r.slots);
    ASSERT_TRUE(walk.closed) << r.slots << " slots, step " << r.step;
    std::set<u32> slots;
    u32 upwards = 0;
    for (u32 k = 0; k < 2 * r.slots; k += 2) {
      const u32 enter = walk.offsets[k], leave = walk.offsets[k + 1];
      const u32 slot = enter / r.slotBytes;
      EXPECT_EQ(leave / r.slotBytes, slot);
      EXPECT_EQ(std::min(enter, leave), slot * r.slotBytes + LINE_PAIR_BASE);
      EXPECT_EQ(std::max(enter, leave) - std::min(enter, leave), r.step);
      upwards += enter < leave;
      slots.insert(slot);
    }
    EXPECT_EQ(slots.size(), r.slots) << "every slot once";
    if (r.slots >= 256) {  // a fair coin: far from all one way
      EXPECT_GT(upwards, r.slots / 3) << r.slots << " slots";
      EXPECT_LT(upwards, r.slots * 2 / 3) << r.slots << " slots";
    }
    std::vector<u8> links(area.size(), 0);
    for (u32 offset : walk.offsets) std::fill_n(links.begin() + offset, CHASE_LINK_BYTES, 1);
    u32 stray = 0;
    for (std::size_t i = 0; i < area.size(); ++i) stray += !links[i] && area[i] != SENTINEL;
    EXPECT_EQ(stray, 0u) << r.slots << " slots, step " << r.step;
  }
}

}  // namespace
}  // namespace vardelo
