// The page texts the console companion collects in place of a window, by page and control.
//
// Two threads write them: the cache worker (probe results, the fill search's progress) and the
// analysis, which the companion runs on its main thread as the chart's painter would; the main
// thread also reads them while the worker runs. Every access takes the store's one lock, and
// readers get copies, never references into the maps.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "core/bench_state.h"

namespace vardelo {

class PageTextStore {
 public:
  void set(u32 page, u32 controlId, const char* text);

  // The text of one field; empty when it was never set.
  std::string text(u32 page, u32 controlId) const;

  // All fields of one page, by control number.
  std::map<u32, std::string> page(u32 page) const;

 private:
  mutable std::mutex lock_;
  std::map<u32, std::map<u32, std::string>> pages_;
};

}  // namespace vardelo
