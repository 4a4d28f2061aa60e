#include <windows.h>

#include <cstdio>

#include "startup/startup.h"
#include "workers/cache_worker.h"
#include "workers/ram_worker.h"
#include "workers/refresh.h"

namespace vardelo {
namespace {

constexpr int CACHE_THREAD = 0;
constexpr int RAM_THREAD = 1;
constexpr int REFRESH_THREAD = 2;

void* createWin32Thread(ThreadEntry entry, u32 flags, u32* threadId) {
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, entry, nullptr, flags, &id);
  *threadId = id;
  return thread;
}

void failThreads(const char* what) {
  char text[160];
  std::snprintf(text, sizeof text,
                "Vardelo cannot start: %s a measuring thread failed (error %lu).", what,
                static_cast<unsigned long>(GetLastError()));
  startupFatal(text, EXIT_NO_THREAD);
}

// Threads that were created suspended and never ran hold nothing; ending them is safe.
void endUnstarted(HANDLE (&threads)[WORKER_THREAD_COUNT], int count) {
  for (int i = 0; i < count; ++i) {
    TerminateThread(threads[i], EXIT_NO_THREAD);
    CloseHandle(threads[i]);
  }
}

}  // namespace

void startThreadsWith(const ThreadEntry (&entries)[WORKER_THREAD_COUNT], ThreadCreate create) {
  HANDLE threads[WORKER_THREAD_COUNT] = {};
  u32 ids[WORKER_THREAD_COUNT] = {};
  for (int i = 0; i < WORKER_THREAD_COUNT; ++i) {
    threads[i] = create(entries[i], CREATE_SUSPENDED, &ids[i]);
    if (threads[i] == nullptr) {
      failThreads("creating");
      endUnstarted(threads, i);
      return;
    }
  }
  bench.hCacheThread = threads[CACHE_THREAD];
  bench.cacheThreadId = ids[CACHE_THREAD];
  bench.hRamThread = threads[RAM_THREAD];
  bench.ramThreadId = ids[RAM_THREAD];
  bench.refreshThreadId = ids[REFRESH_THREAD];
  for (HANDLE thread : threads) {
    // Resuming a thread this process just made does not fail in practice; if it does, the
    // process ends at once and takes the threads already going with it.
    if (ResumeThread(thread) == static_cast<DWORD>(-1)) {
      failThreads("starting");
      return;
    }
  }
  // The refresh thread runs on regardless of its handle.
  CloseHandle(threads[REFRESH_THREAD]);
}

void startWorkerThreads() {
  static constexpr ThreadEntry ENTRIES[WORKER_THREAD_COUNT] = {cacheWorkerThread, ramWorkerThread,
                                                               refreshThread};
  startThreadsWith(ENTRIES, createWin32Thread);
}

void mainDialogReturned() {
  char text[160];
  std::snprintf(text, sizeof text,
                "Vardelo cannot go on: its window could not be opened or was closed unexpectedly "
                "(error %lu).",
                static_cast<unsigned long>(GetLastError()));
  startupFatal(text, EXIT_NO_WINDOW);
}

}  // namespace vardelo
