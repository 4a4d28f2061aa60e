// Thread entry of the refresh thread.
#include <windows.h>
#include <commctrl.h>

#include "workers/refresh.h"

namespace vardelo {

// The protocol's message values are kept window-free; they must be the platform's.
static_assert(MSG_SIZE == WM_SIZE && MSG_ACTIVATE == WM_ACTIVATE && MSG_PAINT == WM_PAINT);
static_assert(MSG_ACTIVATEAPP == WM_ACTIVATEAPP && MSG_NOTIFY == WM_NOTIFY);
static_assert(NOTIFY_TAB_SELCHANGE == static_cast<i32>(TCN_SELCHANGE));
static_assert(SIZE_TYPE_RESTORED == SIZE_RESTORED);
static_assert(UM_PAINT_CACHE == WM_USER + 1 && UM_PAINT_WRITE == WM_USER + 4);

DWORD WINAPI refreshThread(void*) { refreshThreadRun(); }

}  // namespace vardelo
