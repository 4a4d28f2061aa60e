#include "report/size_agreement.h"

#include "startup/cache_description.h"

namespace vardelo {
namespace {

constexpr u32 MIB = 1u << 20;

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The first level `level` of one of the two types given, or null.
const CacheLevelInfo* findLevel(const CacheList& caches, u8 level, u8 type, u8 otherType) {
  for (u32 i = 0; i < caches.count && i < MAX_CACHE_LEVELS; ++i) {
    const CacheLevelInfo& c = caches.levels[i];
    if (c.level == level && (c.type == type || c.type == otherType)) return &c;
  }
  return nullptr;
}

// The L3 as its field shows it, in whole MiB; 0 while unset.
u32 mibShown(const Figure& f) { return f.isSet() ? f.value / MIB * MIB : 0; }

// A size as its field shows it, in whole KiB; 0 while unset or below 1 KiB (the field is then
// left alone). A line figure is 0 until set.
u32 sizeShown(const Figure& f) { return f.isSet() ? f.value / 1024 * 1024 : 0; }

}  // namespace

std::vector<SizeAgreement> compareDerivedSizes(const CacheFigures& figures,
                                               const std::map<u32, std::string>& fields,
                                               const CacheList& caches) {
  const CacheLevelInfo* l1i = findLevel(caches, 1, CACHE_INSTRUCTION, CACHE_UNIFIED);
  const CacheLevelInfo* l1d = findLevel(caches, 1, CACHE_DATA, CACHE_UNIFIED);
  const CacheLevelInfo* l2 = findLevel(caches, 2, CACHE_UNIFIED, CACHE_DATA);
  const CacheLevelInfo* l3 = findLevel(caches, 3, CACHE_UNIFIED, CACHE_DATA);
  const CacheLevelInfo* last = largestCache(caches);
  struct Row {
    const char* name;
    u32 field;
    u32 derived;
    u32 described;
    bool wholeMiB;  // shown in whole MiB
  };
  const Row rows[] = {
      {"icache", FIELD_ICACHE_SIZE, sizeShown(figures.icacheSize), l1i ? l1i->sizeBytes : 0, false},
      {"dcache", FIELD_DCACHE_SIZE, sizeShown(figures.dcacheSize), l1d ? l1d->sizeBytes : 0, false},
      {"l2", FIELD_L2_SIZE, sizeShown(figures.l2Size), l2 ? l2->sizeBytes : 0, false},
      {"l3", FIELD_L3_SIZE, mibShown(figures.l3Size), l3 ? l3->sizeBytes : 0, true},
      {"l2Line", FIELD_L2_LINE, figures.l2Line.value > 8 ? figures.l2Line.value : 0,
       l2 ? l2->lineBytes : 0, false},
      {"ramLine", FIELD_RAM_LINE, figures.ramLine.value, last ? last->lineBytes : 0, false},
  };
  std::vector<SizeAgreement> out;
  for (const Row& row : rows) {
    const auto it = fields.find(row.field);
    const std::string shown = it == fields.end() ? std::string{} : trimmed(it->second);
    const u32 expected = row.wholeMiB ? (row.described + MIB / 2) / MIB * MIB : row.described;
    out.push_back({row.name, row.field, shown, row.derived, row.described, expected});
  }
  return out;
}

void writeDerivedSizes(JsonWriter& json, const std::vector<SizeAgreement>& sizes) {
  json.beginArray("derivedSizes");
  for (const SizeAgreement& s : sizes) {
    json.beginObject()
        .value("name", s.name)
        .value("field", s.field)
        .value("shown", s.shown)
        .value("bytes", s.derivedBytes)
        .value("cpuidBytes", s.describedBytes)
        .value("expectedBytes", s.expectedBytes);
    if (s.derivedBytes == 0 || s.expectedBytes == 0) {
      json.null("agrees");
    } else {
      json.value("agrees", s.derivedBytes == s.expectedBytes);
    }
    json.endObject();
  }
  json.endArray();
}

}  // namespace vardelo
