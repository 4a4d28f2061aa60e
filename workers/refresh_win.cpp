// Thread entry of the refresh thread.
#include <windows.h>

#include "workers/refresh.h"

namespace vardelo {

// The private messages are kept window-free; they must lie in the platform's private range.
static_assert(UM_PAINT_CACHE == WM_USER + 1 && UM_PAINT_WRITE == WM_USER + 4);

DWORD WINAPI refreshThread(void*) { refreshThreadRun(); }

}  // namespace vardelo
