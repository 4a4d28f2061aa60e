// The texts of the "Cache Speed " page's figures: each figure that is set, in the format of its
// field. A speed or size that would show as 0 leaves its field alone, as does a figure not
// derived yet, so the field keeps its earlier text.
#pragma once

#include "core/figures.h"
#include "core/text_format.h"

namespace vardelo {

// Fields 110, 111, 112, 113, 114 (speeds in MiB/s), 100, 101, 102 (sizes in KiB; 100 on
// class 2 as "%4luk:4*"), 103 (the L3 in MiB), 122 and 124 (lines: "-" for an L2 line of 8 bytes or
// less and for a RAM line the probe could not find) and 104 (installed memory: MiB up to 99999,
// then GiB; empty when the system did not say).
FieldUpdates cacheFieldTexts(const CacheFigures& figures, std::uint8_t cpuClass);

// An L3 of at least 1 MiB is measured: field 103 shows it, and the L3 column is not greyed.
bool showsL3(const CacheFigures& figures);

}  // namespace vardelo
