// For the tests of every build: follows the latency chain one link, as the kernel does, in a
// block that buildChaseChain wrote.
#pragma once

#include <cstdint>
#include <cstring>

#include "kernels/latency_chain.h"

namespace vardelo {

// The offset of the line after the one at `offset`, read back from the chain in `area`, whose
// first byte has the address `areaAddress`. A link that points more than 4 GiB away from the
// area (an address cut to 32 bits, say) gives 0xFFFFFFFF, outside any block.
inline u32 chaseNextOffset(const u8* area, std::uintptr_t areaAddress, u32 offset) {
  std::uintptr_t address;
  std::memcpy(&address, area + offset, sizeof address);
  const std::uintptr_t next = address - areaAddress;
  return next <= 0xFFFFFFFFu ? static_cast<u32>(next) : 0xFFFFFFFFu;
}

}  // namespace vardelo
