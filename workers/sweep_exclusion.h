// Keeps the two sweep workers from measuring at the same time.
//
// Each worker still shows its state in its busy byte (cacheBusy, ramBusy) and still polls the
// other's at its own cadence, but the test of the other worker's byte and the claim of the right
// to measure are one indivisible step: a claim is a compare-and-swap of one owner word, so the
// 30 ms and more between a RAM worker's test of cacheBusy and its setting of ramBusy can no
// longer let both sweeps run.
#pragma once

#include <cstdint>

namespace vardelo {

// The cache worker's claim: succeeds only while no RAM pass is running or claimed. On success
// cacheBusy is raised by one.
bool tryBeginCacheSweep();
// Ends the cache sweep: cacheBusy = 0, then the claim is released.
void endCacheSweep();

// The RAM worker's claim for the passes of one turn: succeeds only while cacheBusy is 0 and the
// cache worker holds no claim.
bool tryBeginRamPasses();
// Releases the RAM worker's claim (ramBusy's bits are cleared by the passes themselves).
void endRamPasses();

// Which worker holds the claim: 0 none, 1 cache, 2 RAM. For tests and diagnostics.
std::uint8_t sweepOwner();

}  // namespace vardelo
