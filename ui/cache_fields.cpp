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

}  // namespace

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
  if (f.l3Size.isSet() && f.l3Size.value / MIB != 0) {
    fields.add(FIELD_L3_SIZE, " %4luM ", f.l3Size.value / MIB);
  }
  if (f.installedMemory.isSet()) {
    fields.add(f.installedMemory.value == 0
                   ? fixedFieldText(FIELD_MEMORY_SIZE, "")
                   : fieldText(FIELD_MEMORY_SIZE, " %5luM ", f.installedMemory.value));
  }
  return fields;
}

}  // namespace vardelo
