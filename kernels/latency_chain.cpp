#include "kernels/latency_chain.h"

#include <cstring>
#include <utility>

namespace vardelo {
namespace {

constexpr u32 TABLE_PAGES = CHASE_TABLE_BLOCK_BYTES / CHASE_PAGE_BYTES;
constexpr u32 SHUFFLE_SEED = 0x2545F491u;

// A uniform index below `n` (n >= 1) from the sequence; the small modulo bias does not matter
// to a shuffle that only has to defeat prefetchers.
u32 randomBelow(u32& state, u32 n) {
  state = chaseRandomNext(state);
  return state % n;
}

// Fisher-Yates over the first n entries.
template <typename T>
void shuffle(T* items, u32 n, u32& state) {
  for (u32 i = n; i > 1; --i) std::swap(items[i - 1], items[randomBelow(state, i)]);
}

// A permutation of [0, 2^bits): three rounds of an odd multiplier and a shift to the right, each
// a bijection modulo 2^bits.
u32 mixBits(u32 x, u32 bits) {
  const u32 mask = bits >= 32 ? ~0u : (1u << bits) - 1;
  const u32 shift = bits / 2 + 1;
  for (u32 multiplier : {0x9E3779B1u, 0x85EBCA77u, 0xC2B2AE3Du}) {
    x = (x * multiplier + SHUFFLE_SEED) & mask;
    x ^= x >> shift;
  }
  return x;
}

// The page visited k-th of `pages`: the permutation of [0, 2^bits) walked on until it lands
// below `pages` (2^bits < 2 × pages, so it takes two steps on average), a bijection of
// [0, pages).
u32 permutedPage(u32 k, u32 pages, u32 bits) {
  u32 page = mixBits(k, bits);
  while (page >= pages) page = mixBits(page, bits);
  return page;
}

u32 bitsFor(u32 n) {
  u32 bits = 1;
  while (bits < 32 && (1u << bits) < n) ++bits;
  return bits;
}

void storeAddress(u8* area, u32 offset, std::uintptr_t address) {
  std::memcpy(area + offset, &address, sizeof address);
}

}  // namespace

u32 buildChaseChain(u8* area, std::uintptr_t areaAddress, u32 blockBytes) {
  // Outside the contract; kept inside the page table below and the chain's own lines.
  if (blockBytes > CHASE_MAX_BLOCK_BYTES) blockBytes = CHASE_MAX_BLOCK_BYTES;
  if (blockBytes < CHASE_LINE_BYTES) blockBytes = CHASE_LINE_BYTES;
  const u32 lines = chaseLines(blockBytes);
  const u32 pages = (lines + CHASE_LINES_PER_PAGE - 1) / CHASE_LINES_PER_PAGE;
  u32 state = SHUFFLE_SEED;

  const bool table = pages <= TABLE_PAGES;
  const u32 bits = bitsFor(pages);
  u16 pageOrder[TABLE_PAGES];
  if (table) {
    for (u32 p = 0; p < pages; ++p) pageOrder[p] = static_cast<u16>(p);
    shuffle(pageOrder, pages, state);
  }

  // Each line is linked to the next one visited; the last one closes the chain.
  u32 first = 0, previous = 0;
  bool started = false;
  for (u32 k = 0; k < pages; ++k) {
    const u32 page = table ? pageOrder[k] : permutedPage(k, pages, bits);
    const u32 firstLine = page * CHASE_LINES_PER_PAGE;
    const u32 count =
        lines - firstLine < CHASE_LINES_PER_PAGE ? lines - firstLine : CHASE_LINES_PER_PAGE;
    u8 lineOrder[CHASE_LINES_PER_PAGE];
    for (u32 l = 0; l < count; ++l) lineOrder[l] = static_cast<u8>(l);
    shuffle(lineOrder, count, state);
    for (u32 l = 0; l < count; ++l) {
      const u32 offset = (firstLine + lineOrder[l]) * CHASE_LINE_BYTES;
      if (started) {
        storeAddress(area, previous, areaAddress + offset);
      } else {
        first = offset;
        started = true;
      }
      previous = offset;
    }
  }
  storeAddress(area, previous, areaAddress + first);
  return first;
}

u32 buildLinePairChain(u8* area, std::uintptr_t areaAddress, u32 slots, u32 slotBytes,
                       u32 stepBytes) {
  // Outside the contract; kept inside the shuffle's table and each slot.
  if (slots > LINE_PAIR_MAX_SLOTS) slots = LINE_PAIR_MAX_SLOTS;
  if (slots == 0) slots = 1;
  if (stepBytes > LINE_PAIR_MAX_STEP) stepBytes = LINE_PAIR_MAX_STEP;
  if (stepBytes < CHASE_LINK_BYTES) stepBytes = CHASE_LINK_BYTES;
  u32 state = SHUFFLE_SEED;

  static u16 order[LINE_PAIR_MAX_SLOTS];  // the cache worker's thread alone builds chains
  for (u32 k = 0; k < slots; ++k) order[k] = static_cast<u16>(k);
  shuffle(order, slots, state);

  u32 first = 0, previous = 0;
  for (u32 k = 0; k < slots; ++k) {
    const u32 low = order[k] * slotBytes + LINE_PAIR_BASE;
    const u32 high = low + stepBytes;
    state = chaseRandomNext(state);
    const bool upwards = (state & 0x100) != 0;
    const u32 enter = upwards ? low : high;
    const u32 leave = upwards ? high : low;
    if (k == 0) {
      first = enter;
    } else {
      storeAddress(area, previous, areaAddress + enter);
    }
    storeAddress(area, enter, areaAddress + leave);
    previous = leave;
  }
  storeAddress(area, previous, areaAddress + first);
  return first;
}

}  // namespace vardelo
