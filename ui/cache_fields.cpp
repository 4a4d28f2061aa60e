#include "ui/cache_fields.h"

#include "core/pages.h"
#include "core/processor.h"

namespace vardelo {
namespace {

constexpr std::uint32_t KIB = 1024;
constexpr std::uint32_t MIB = 1024 * KIB;

void addInKiB(FieldUpdates& fields, std::uint32_t controlId, const char* format, const Figure& f) {
  if (f.isSet() && f.value / KIB != 0) fields.add(controlId, format, f.value / KIB);
}

// Installed memory in the field's eight characters: MiB up to five digits, then GiB with a
// tenth (truncated, as every shown division), and whole GiB from 1000 GiB on.
constexpr std::uint32_t LARGEST_MIB_SHOWN = 99999;
constexpr std::uint32_t TENTHS_SHOWN_BELOW_GIB = 1000;

FieldText memoryText(std::uint32_t mib) {
  if (mib == 0) return fixedFieldText(FIELD_MEMORY_SIZE, "");  // the system did not say
  if (mib <= LARGEST_MIB_SHOWN) return fieldText(FIELD_MEMORY_SIZE, " %5luM ", mib);
  const std::uint32_t gib = mib / KIB;
  if (gib >= TENTHS_SHOWN_BELOW_GIB) return fieldText(FIELD_MEMORY_SIZE, " %5luG ", gib);
  FieldText shown{FIELD_MEMORY_SIZE, {}};
  formatText(shown.text, sizeof shown.text, " %3lu.%1luG ", static_cast<unsigned long>(gib),
             static_cast<unsigned long>(mib % KIB * 10 / KIB));
  return shown;
}

}  // namespace

bool showsL3(const CacheFigures& f) { return f.l3Size.isSet() && f.l3Size.value / MIB != 0; }

FieldUpdates cacheFieldTexts(const CacheFigures& f, std::uint8_t cpuClass) {
  FieldUpdates fields;
  addInKiB(fields, FIELD_DCACHE_SPEED, " %6lu ", f.dataSpeed);
  addInKiB(fields, FIELD_L2_SPEED, " %6lu ", f.l2Speed);
  addInKiB(fields, FIELD_L3_SPEED, " %6lu ", f.l3Speed);
  addInKiB(fields, FIELD_DCACHE_SIZE, " %4luK ", f.dcacheSize);
  addInKiB(fields, FIELD_RAM_SPEED, " %5lu ", f.ramSpeed);
  addInKiB(fields, FIELD_ICACHE_SPEED, " %6lu ", f.codeSpeed);
  addInKiB(fields, FIELD_ICACHE_SIZE, cpuClass == CLASS_INTEL_FAMILY15 ? "%4luk:4*" : " %4luK ",
           f.icacheSize);
  if (f.l2Line.isSet()) {
    fields.add(f.l2Line.value <= 8 ? fixedFieldText(FIELD_L2_LINE, "-")
                                   : fieldText(FIELD_L2_LINE, "%3lubyts*", f.l2Line.value));
  }
  if (f.ramLine.isSet()) {
    fields.add(f.ramLine.value == 0 ? fixedFieldText(FIELD_RAM_LINE, "-")
                                    : fieldText(FIELD_RAM_LINE, "%3lubyts", f.ramLine.value));
  }
  if (f.l2Size.isSet()) fields.add(FIELD_L2_SIZE, " %4luK ", f.l2Size.value / KIB);
  // The L3 in whole MiB, as the L2 in KiB.
  if (showsL3(f)) {
    fields.add(FIELD_L3_SIZE, " %4luM ", f.l3Size.value / MIB);
  }
  if (f.installedMemory.isSet()) fields.add(memoryText(f.installedMemory.value));
  return fields;
}

}  // namespace vardelo
