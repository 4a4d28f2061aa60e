#include <windows.h>

#include "startup/startup.h"
#include "workers/cache_worker.h"
#include "workers/ram_worker.h"
#include "workers/refresh.h"

namespace vardelo {
namespace {

HANDLE startThread(LPTHREAD_START_ROUTINE entry, u32& threadId) {
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, entry, nullptr, 0, &id);
  if (thread == nullptr) {
    startupFatal("Vardelo cannot start: a measuring thread could not be created.", EXIT_NO_THREAD);
  }
  threadId = id;
  return thread;
}

}  // namespace

void startWorkerThreads() {
  bench.hCacheThread = startThread(cacheWorkerThread, bench.cacheThreadId);
  bench.hRamThread = startThread(ramWorkerThread, bench.ramThreadId);
  // The refresh thread runs on regardless of its handle.
  CloseHandle(startThread(refreshThread, bench.refreshThreadId));
}

unsigned releaseTestBuffer() {
  HGLOBAL block = static_cast<HGLOBAL>(bench.bufferHandle.load());
  GlobalUnlock(block);
  return GlobalFree(block) == nullptr ? 0 : 1;
}

}  // namespace vardelo
