#include "core/bench_state.h"

namespace vardelo {

constinit BenchState bench;

}  // namespace vardelo
