// What the program knows a processor by once it is identified: its vendor and timing-class
// codes, as bench.machine.cpuVendor and bench.machine.cpuClass hold them, and the clock the header
// shows.
#pragma once

#include <cstdint>

namespace vardelo {

// cpuVendor values.
enum : std::uint8_t { VENDOR_OTHER = 0, VENDOR_AMD = 1, VENDOR_INTEL = 2 };

// cpuClass values: the timing rules that differ by processor go by these.
enum : std::uint8_t {
  CLASS_OTHER = 0,
  CLASS_AMD_FAMILY6_UP = 1,  // AMD, base family 6 or higher
  CLASS_INTEL_FAMILY15 = 2,  // Intel, base family above 6, that is 15
};

// The clock the header shows, in MHz, for a given tscRate (counter ticks per 1/1024 second).
constexpr std::uint32_t shownMhz(std::uint32_t tscRate) {
  return static_cast<std::uint32_t>((std::uint64_t{tscRate / 1000} * 1024 + 500) / 1000);
}

}  // namespace vardelo
