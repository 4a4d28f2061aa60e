// The measuring thread of the native Linux report, as a POSIX thread.
#include <pthread.h>

#include <cstdio>
#include <cstring>

#include "startup/startup.h"
#include "workers/worker_threads_linux.h"

namespace vardelo {

// The thread inherits the start-up's processor; it runs until the process ends, so it is
// detached and its id kept only to say that it exists.
void startCacheWorkerThread() {
  pthread_t thread{};
  const int error = pthread_create(&thread, nullptr, cacheWorkerPosixThread, nullptr);
  if (error != 0) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "Vardelo cannot start: creating a measuring thread failed (%s).",
                  std::strerror(error));
    startupFatal(text, EXIT_NO_THREAD);
    return;
  }
  pthread_detach(thread);
  bench.machine.hCacheThread = reinterpret_cast<Handle>(thread);
}

}  // namespace vardelo
