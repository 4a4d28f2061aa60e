// The window's pages and the numbers of their controls: what the workers, the painters, the
// dialog code and the console companion all address a text or a button by. The dialog templates
// (ui/resources/vardelo.rc) carry the same numbers; the target dialog tests check each control
// of the templates by its number.
#pragma once

#include <cstdint>

namespace vardelo {

// Pages in tab order; the index is also the page's slot in bench.window.hPages.
inline constexpr std::uint32_t PAGE_CACHE = 0;
inline constexpr std::uint32_t PAGE_READ = 1;
inline constexpr std::uint32_t PAGE_WRITE = 2;
inline constexpr std::uint32_t PAGE_ABOUT = 3;
inline constexpr std::uint32_t PAGE_COUNT = 4;

// The three chart pages; the value is the page index. None stands for the About page.
enum class Chart : std::uint8_t {
  Cache = PAGE_CACHE,
  Read = PAGE_READ,
  Write = PAGE_WRITE,
  None = PAGE_ABOUT
};

// The chart shown on `page`; None for the About page and anything beyond.
constexpr Chart chartOfPage(std::uint32_t page) {
  return page < PAGE_ABOUT ? static_cast<Chart>(page) : Chart::None;
}

// --- Main dialog -------------------------------------------------------------------------------

inline constexpr std::uint32_t ID_TAB_CONTROL = 1011;
// Sent to the main dialog from outside; no control carries it.
inline constexpr std::uint32_t CMD_REALTIME = 1501;

// --- "Cache Speed " page -----------------------------------------------------------------------

inline constexpr std::uint32_t FIELD_ICACHE_SIZE = 100;
inline constexpr std::uint32_t FIELD_DCACHE_SIZE = 101;
inline constexpr std::uint32_t FIELD_L2_SIZE = 102;
inline constexpr std::uint32_t FIELD_L3_SIZE = 103;
inline constexpr std::uint32_t FIELD_MEMORY_SIZE = 104;
inline constexpr std::uint32_t FIELD_ICACHE_SPEED = 110;
inline constexpr std::uint32_t FIELD_DCACHE_SPEED = 111;
inline constexpr std::uint32_t FIELD_L2_SPEED = 112;
inline constexpr std::uint32_t FIELD_L3_SPEED = 113;
inline constexpr std::uint32_t FIELD_RAM_SPEED = 114;
inline constexpr std::uint32_t FIELD_L2_LINE = 122;
inline constexpr std::uint32_t FIELD_RAM_LINE = 124;
// The fill code: the best one so far during the search, the winner afterwards.
inline constexpr std::uint32_t FIELD_FILL_MODE = 130;
// The "mode" label beside it, which becomes the search's progress bar.
inline constexpr std::uint32_t FIELD_FILL_LABEL = 139;
inline constexpr std::uint32_t ID_CACHE_RESTART = 1100;

// --- "Read RAM" and "Write RAM" pages ----------------------------------------------------------

// Statistics fields: base + 10 × block index + column, and base + 99 for the combined figure.
inline constexpr std::uint32_t READ_FIELDS_BASE = 200;
inline constexpr std::uint32_t WRITE_FIELDS_BASE = 300;
inline constexpr std::uint32_t COMBINED_FIELD_OFFSET = 99;
inline constexpr std::uint32_t ID_READ_RESTART = 1200;
inline constexpr std::uint32_t ID_READ_FILTER = 1201;
inline constexpr std::uint32_t ID_WRITE_RESTART = 1300;
inline constexpr std::uint32_t ID_WRITE_FILTER = 1301;

// --- "About" page ------------------------------------------------------------------------------

inline constexpr std::uint32_t ID_ABOUT_CLOSE = 1300;
inline constexpr std::uint32_t ID_ABOUT_HOME = 1301;
inline constexpr std::uint32_t ID_ABOUT_MAIL = 1302;

}  // namespace vardelo
