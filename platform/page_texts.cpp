// The window-free part of the page-text service: a computation's field updates, one by one.
#include "platform/platform.h"

namespace vardelo::platform {

void sendFieldUpdates(std::uint32_t page, const FieldUpdates& updates) {
  for (int i = 0; i < updates.count; ++i) {
    setPageText(page, updates.items[i].controlId, updates.items[i].text);
  }
}

}  // namespace vardelo::platform
