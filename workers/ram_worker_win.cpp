// Thread entry of the RAM sweep worker, with the real measurements and settle routine.
#include <windows.h>

#include "kernels/ram_loop.h"
#include "platform/cpu.h"
#include "workers/ram_worker.h"

namespace vardelo {

DWORD WINAPI ramWorkerThread(void*) {
  static const RamOps ops{measureRamRead, measureRamWrite, measureRamWriteMmx, settle,
                          primeRamSpan};
  ramWorkerRun(ops);
}

}  // namespace vardelo
