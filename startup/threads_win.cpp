#include <windows.h>

#include <atomic>
#include <cstdio>

#include "startup/threads_win.h"
#include "workers/cache_worker.h"
#include "workers/ram_worker.h"
#include "workers/refresh.h"

namespace vardelo {
namespace {

constexpr int CACHE_THREAD = 0;
constexpr int RAM_THREAD = 1;
constexpr int REFRESH_THREAD = 2;

void* createWin32Thread(ThreadEntry entry, void* parameter, u32 flags) {
  return CreateThread(nullptr, 0, entry, parameter, flags, nullptr);
}

// Every thread starts here, on its own start record, and runs its entry only if the start-up
// still wants it once it is set going. A thread made but no longer wanted is set going to end
// at once: ending it from outside (TerminateThread) could leave a lock held that the process
// needs, and under an emulator can bring the process down.
struct ThreadStart {
  ThreadEntry entry = nullptr;
  std::atomic<bool> wanted{true};
};

unsigned long __stdcall startThread(void* parameter) {
  auto* start = static_cast<ThreadStart*>(parameter);
  const ThreadEntry entry = start->wanted.load() ? start->entry : nullptr;
  delete start;
  return entry != nullptr ? entry(nullptr) : EXIT_NO_THREAD;
}

void failThreads(const char* what) {
  char text[160];
  std::snprintf(text, sizeof text,
                "Vardelo cannot start: %s a measuring thread failed (error %lu).", what,
                static_cast<unsigned long>(GetLastError()));
  startupFatal(text, EXIT_NO_THREAD);
}

// Lets threads created suspended go without running their entries: each ends at once, freeing
// its start record. One that cannot be set going stays suspended, holding nothing but its
// record, until the process ends.
void letGo(HANDLE* threads, ThreadStart** starts, int count) {
  for (int i = 0; i < count; ++i) {
    starts[i]->wanted = false;
    ResumeThread(threads[i]);
    CloseHandle(threads[i]);
  }
}

// Makes the threads of `entries`, suspended, into `threads`. On a failure reports it and, should
// the report return, lets those made go and returns false.
bool createSuspended(const ThreadEntry* entries, int count, ThreadCreate create, HANDLE* threads,
                     ThreadStart** starts) {
  for (int i = 0; i < count; ++i) {
    starts[i] = new ThreadStart;
    starts[i]->entry = entries[i];
    threads[i] = create(startThread, starts[i], CREATE_SUSPENDED);
    if (threads[i] == nullptr) {
      delete starts[i];
      failThreads("creating");
      letGo(threads, starts, i);
      return false;
    }
  }
  return true;
}

// Sets the threads going in order. Resuming a thread this process just made does not fail in
// practice; if it does, the failure is reported (which ends the process) and, should the report
// return, the threads not yet going are let go without running and every handle is closed.
bool resumeAll(HANDLE* threads, ThreadStart** starts, int count) {
  for (int i = 0; i < count; ++i) {
    if (ResumeThread(threads[i]) == static_cast<DWORD>(-1)) {
      failThreads("starting");
      for (int j = 0; j < i; ++j) CloseHandle(threads[j]);
      letGo(threads + i, starts + i, count - i);
      return false;
    }
  }
  return true;
}

}  // namespace

void startThreadsWith(const ThreadEntry (&entries)[WORKER_THREAD_COUNT], ThreadCreate create) {
  HANDLE threads[WORKER_THREAD_COUNT] = {};
  ThreadStart* starts[WORKER_THREAD_COUNT] = {};
  if (!createSuspended(entries, WORKER_THREAD_COUNT, create, threads, starts)) return;
  if (!resumeAll(threads, starts, WORKER_THREAD_COUNT)) return;
  bench.machine.hCacheThread = threads[CACHE_THREAD];
  bench.machine.hRamThread = threads[RAM_THREAD];
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
  ThreadStart* start = nullptr;
  if (!createSuspended(&ENTRY, 1, createWin32Thread, &thread, &start)) return;
  if (resumeAll(&thread, &start, 1)) bench.machine.hCacheThread = thread;
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
