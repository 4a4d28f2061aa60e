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

void* createWin32Thread(ThreadEntry entry, u32 flags) {
  return CreateThread(nullptr, 0, entry, nullptr, flags, nullptr);
}

void failThreads(const char* what) {
  char text[160];
  std::snprintf(text, sizeof text,
                "Vardelo cannot start: %s a measuring thread failed (error %lu).", what,
                static_cast<unsigned long>(GetLastError()));
  startupFatal(text, EXIT_NO_THREAD);
}

// Ends threads that were created suspended and closes their handles. Those never set going hold
// nothing; one that was, on the failing start's path, has only just begun.
void endThreads(HANDLE* threads, int count) {
  for (int i = 0; i < count; ++i) {
    TerminateThread(threads[i], EXIT_NO_THREAD);
    CloseHandle(threads[i]);
  }
}

// Makes the threads of `entries`, suspended, into `threads`. On a failure reports it and, should
// the report return, ends those made and returns false.
bool createSuspended(const ThreadEntry* entries, int count, ThreadCreate create, HANDLE* threads) {
  for (int i = 0; i < count; ++i) {
    threads[i] = create(entries[i], CREATE_SUSPENDED);
    if (threads[i] == nullptr) {
      failThreads("creating");
      endThreads(threads, i);
      return false;
    }
  }
  return true;
}

// Sets the threads going in order. Resuming a thread this process just made does not fail in
// practice; if it does, the failure is reported (which ends the process) and, should the report
// return, every thread is ended and its handle closed: the start-up failed as a whole.
bool resumeAll(HANDLE* threads, int count) {
  for (int i = 0; i < count; ++i) {
    if (ResumeThread(threads[i]) == static_cast<DWORD>(-1)) {
      failThreads("starting");
      endThreads(threads, count);
      return false;
    }
  }
  return true;
}

}  // namespace

void startThreadsWith(const ThreadEntry (&entries)[WORKER_THREAD_COUNT], ThreadCreate create) {
  HANDLE threads[WORKER_THREAD_COUNT] = {};
  if (!createSuspended(entries, WORKER_THREAD_COUNT, create, threads)) return;
  if (!resumeAll(threads, WORKER_THREAD_COUNT)) return;
  bench.hCacheThread = threads[CACHE_THREAD];
  bench.hRamThread = threads[RAM_THREAD];
  // The refresh thread runs on regardless of its handle.
  CloseHandle(threads[REFRESH_THREAD]);
}

void startWorkerThreads() {
  static constexpr ThreadEntry ENTRIES[WORKER_THREAD_COUNT] = {cacheWorkerThread, ramWorkerThread,
                                                               refreshThread};
  startThreadsWith(ENTRIES, createWin32Thread);
}

void startCacheWorkerThread() {
  static constexpr ThreadEntry ENTRY = cacheWorkerThread;
  HANDLE thread = nullptr;
  if (!createSuspended(&ENTRY, 1, createWin32Thread, &thread)) return;
  if (resumeAll(&thread, 1)) bench.hCacheThread = thread;
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
