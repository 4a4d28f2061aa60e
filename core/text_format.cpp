#include "core/text_format.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
namespace vardelo {

int formatText(char* out, std::size_t cap, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(out, cap, format, args);
  va_end(args);
  return length;
}

FieldText fieldText(std::uint32_t controlId, const char* format, std::uint32_t value) {
  FieldText item{controlId, {}};
  // The format comes from the program's own tables, one `l` conversion each.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  formatText(item.text, sizeof item.text, format, static_cast<unsigned long>(value));
#pragma GCC diagnostic pop
  return item;
}

FieldText fixedFieldText(std::uint32_t controlId, const char* text) {
  FieldText item{controlId, {}};
  std::strncpy(item.text, text, sizeof item.text - 1);
  return item;
}

void FieldUpdates::add(const FieldText& item) {
  if (count < CAPACITY) items[count++] = item;
}

void FieldUpdates::add(std::uint32_t controlId, const char* format, std::uint32_t value) {
  add(fieldText(controlId, format, value));
}

}  // namespace vardelo
