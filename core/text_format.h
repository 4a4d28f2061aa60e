// Page texts formatted the way the program's Win32 formatter does, on both builds.
//
// The formats are the ones the pages use (" %4luK ", "%3lubyts*", "%8lX", "%3lu%%"): decimal and
// hexadecimal integers with widths, literal text and "%%". No floating point. Every integer
// conversion carries the `l` length, which wants an `unsigned long`: 32 bits on Windows but
// 64 bits on Linux, so callers pass their 32-bit values cast to `unsigned long`, never a bare
// u32. FieldUpdates::add does that cast itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vardelo {

// Formats into `out` (capacity `cap`, always NUL-terminated when cap > 0; longer texts are cut).
// Returns the length the full text would have.
[[gnu::format(gnu_printf, 3, 4)]] int formatText(char* out, std::size_t cap, const char* format,
                                                 ...);

// One page field and the text to set on it.
struct FieldText {
  std::uint32_t controlId;
  char text[32];
};

// `format` takes exactly one integer conversion with the `l` length (%lu, %lX, widths allowed).
FieldText fieldText(std::uint32_t controlId, const char* format, std::uint32_t value);

// A text without conversions, copied as it is (cut to 31 characters).
FieldText fixedFieldText(std::uint32_t controlId, const char* text);

// The field updates one computation produces, in the order it produced them. Fields a
// computation leaves alone simply do not appear. Updates past the capacity are dropped; no
// computation of the program writes more than a dozen fields at once.
struct FieldUpdates {
  static constexpr int CAPACITY = 16;
  FieldText items[CAPACITY];
  int count = 0;

  void add(const FieldText& item);
  void add(std::uint32_t controlId, const char* format, std::uint32_t value);
};

}  // namespace vardelo
