// startWorkerThreads with other thread entries and another way to create a thread, for tests.
// Apart from startup.h because a thread entry has the Win32 calling convention.
#pragma once

#include "startup/startup.h"

namespace vardelo {

// `create` makes a thread with default stack and security that runs `entry(parameter)`, with the
// given creation flags, and returns its handle, or null on failure. Should startupFatal return,
// the threads not yet going are let go to an end of their own without running their entries,
// every handle is closed and bench is left as it was.
using ThreadEntry = unsigned long(__stdcall*)(void*);
using ThreadCreate = void* (*)(ThreadEntry entry, void* parameter, u32 flags);
inline constexpr int WORKER_THREAD_COUNT = 3;
void startThreadsWith(const ThreadEntry (&entries)[WORKER_THREAD_COUNT], ThreadCreate create);

}  // namespace vardelo
