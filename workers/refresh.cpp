#include "workers/refresh.h"

#include "platform/platform.h"

namespace vardelo {
namespace {

// Announces a page's changes. The counter loses only what was seen here: a change counted while
// the message was being posted stays in it and brings the next message.
void post(AtomicU32& dirty, u32 seen, AtomicU8& posted, u32 message) {
  posted.store(1);
  platform::postToMainDialog(message);
  dirty.fetch_sub(seen);
}

}  // namespace

void refreshStep() {
  // The cache page's tick marks a posted paint; it tells the painter it may draw curves only.
  if (const u32 seen = bench.protocol.cacheDirty.load();
      seen != 0 && bench.protocol.cachePosted.load() == 0) {
    bench.protocol.cacheTick.fetch_add(1);
    post(bench.protocol.cacheDirty, seen, bench.protocol.cachePosted, UM_PAINT_CACHE);
  }
  // The RAM pages' ticks are raised by every step that finds changes, posted or not.
  if (const u32 seen = bench.protocol.readDirty.load(); seen != 0) {
    bench.protocol.readTick.fetch_add(1);
    if (bench.protocol.readPosted.load() == 0)
      post(bench.protocol.readDirty, seen, bench.protocol.readPosted, UM_PAINT_READ);
  }
  if (const u32 seen = bench.protocol.writeDirty.load(); seen != 0) {
    bench.protocol.writeTick.fetch_add(1);
    if (bench.protocol.writePosted.load() == 0)
      post(bench.protocol.writeDirty, seen, bench.protocol.writePosted, UM_PAINT_WRITE);
  }
}

void refreshThreadRun() {
  platform::setThreadAffinity(REFRESH_AFFINITY_MASK);  // refused where the process has one
  for (;;) {
    platform::sleepMs(REFRESH_PERIOD_MS);
    refreshStep();
  }
}

}  // namespace vardelo
