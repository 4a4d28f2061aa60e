#include "workers/sweep_exclusion.h"

#include <atomic>

#include "core/bench_state.h"

namespace vardelo {
namespace {

constexpr std::uint8_t NOBODY = 0;
constexpr std::uint8_t CACHE = 1;
constexpr std::uint8_t RAM = 2;

std::atomic<std::uint8_t> owner{NOBODY};

bool claim(std::uint8_t who) {
  std::uint8_t expected = NOBODY;
  return owner.compare_exchange_strong(expected, who, std::memory_order_acq_rel);
}

}  // namespace

bool tryBeginCacheSweep() {
  if (bench.protocol.ramBusy.load() != 0 || !claim(CACHE)) return false;
  bench.protocol.cacheBusy.fetch_add(1);
  return true;
}

void endCacheSweep() {
  bench.protocol.cacheBusy.store(0);
  owner.store(NOBODY, std::memory_order_release);
}

bool tryBeginRamPasses() {
  if (bench.protocol.cacheBusy.load() != 0 || !claim(RAM)) return false;
  // The cache worker may have ended a sweep and started the next between our test and our
  // claim only by claiming first, which made our claim fail; so cacheBusy is still 0 here.
  return true;
}

void endRamPasses() { owner.store(NOBODY, std::memory_order_release); }

std::uint8_t sweepOwner() { return owner.load(); }

}  // namespace vardelo
