// Thread entries of the measuring threads for POSIX threads (workers/*_linux.cpp): each runs its
// worker with the real measurements and never returns.
#pragma once

namespace vardelo {

void* cacheWorkerPosixThread(void* unused);

}  // namespace vardelo
