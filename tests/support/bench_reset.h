// For the tests of every build: puts the shared BenchState back to the values the program
// starts with, so that a test begins where the program begins and leaves nothing behind for the
// next one. Only while no other thread touches the record.
#pragma once

#include <memory>

#include "core/bench_state.h"

namespace vardelo {

inline void resetBench() {
  // The record holds atomics, which cannot be assigned as a whole; building it again in place
  // gives every field its initial value, exactly as the static initialisation did.
  std::destroy_at(&bench);
  std::construct_at(&bench);
}

}  // namespace vardelo
