// The sizes the cache page derived, set beside the caches CPUID describes.
//
// A derived size agrees when it equals the described one: the page shows sizes as the curves
// show them (a 48 KiB cache as 48K where its edge is clear), the L3 to whole MiB, as its field
// shows it. Line sizes likewise. A virtual machine may describe more L3 than it gets: the report
// then shows both and says they disagree.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/bench_state.h"
#include "core/figures.h"
#include "report/json_writer.h"

namespace vardelo {

struct SizeAgreement {
  const char* name;    // "icache", "dcache", "l2", "l3", "l2Line", "ramLine"
  u32 field;           // the control that shows it
  std::string shown;   // its text as shown, blanks trimmed; empty when not derived
  u32 derivedBytes;    // the figure the text shows; 0 when it shows none
  u32 describedBytes;  // from CPUID; 0 when no level describes it
  u32 expectedBytes;   // what the page would show for the described one; 0 when unknown
};

// The six derived sizes (I-cache, D-cache, L2, L3, L2 line, RAM line) from the figures, with their
// texts from the cache page's fields by control number, each with what CPUID describes for it.
std::vector<SizeAgreement> compareDerivedSizes(const CacheFigures& figures,
                                               const std::map<u32, std::string>& fields,
                                               const CacheList& caches);

// "derivedSizes": one object per size with "agrees": true or false, null where either side is
// unknown.
void writeDerivedSizes(JsonWriter& json, const std::vector<SizeAgreement>& sizes);

}  // namespace vardelo
