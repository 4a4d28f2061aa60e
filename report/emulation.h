// Whether the processor the program sees is an emulator's. Figures measured there are the
// emulator's, not the machine's, and the console companion says so.
#pragma once

#include <string_view>

namespace vardelo {

// True when the brand string names an emulated processor, or when the environment's
// VARDELO_IA32 (set by the project's scripts from their probe) is "emulated".
bool looksEmulated(std::string_view brand, std::string_view ia32Kind);

}  // namespace vardelo
