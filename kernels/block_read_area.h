// Physical memory of its own for every page of the test area, before the area is measured.
//
// The test area comes from the system untouched. A page that has only ever been read is mapped
// to the system's one shared page of zeros (Linux, and so Wine, does this; other systems may),
// so a read curve over untouched memory reads the same 4 KiB of physical memory at every block
// size: no cache edge shows, and main memory is never reached. Writing each page gives it a
// page of its own. The words written differ from line to line and from page to page, so that no
// system or hypervisor that merges pages of equal contents can fold them together again.
#pragma once

#include "core/bench_state.h"

namespace vardelo {

// Writes every 32-bit word of `bytes` (a multiple of 4) at `area` with a value of its own: its
// word index, so that no two words and no two lines or pages hold the same contents.
void fillWithOwnPages(u8* area, u32 bytes);

}  // namespace vardelo
