#include "report/emulation.h"

namespace vardelo {

bool looksEmulated(std::string_view brand, std::string_view ia32Kind) {
  if (ia32Kind == "emulated") return true;
  // qemu's processor models name themselves in the brand string ("QEMU Virtual CPU ...").
  return brand.find("QEMU") != std::string_view::npos;
}

}  // namespace vardelo
