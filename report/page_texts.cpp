#include "report/page_texts.h"

namespace vardelo {

void PageTextStore::set(u32 page, u32 controlId, const char* text) {
  const std::lock_guard<std::mutex> hold(lock_);
  pages_[page][controlId] = text;
}

std::string PageTextStore::text(u32 page, u32 controlId) const {
  const std::lock_guard<std::mutex> hold(lock_);
  const auto p = pages_.find(page);
  if (p == pages_.end()) return {};
  const auto field = p->second.find(controlId);
  return field == p->second.end() ? std::string{} : field->second;
}

std::map<u32, std::string> PageTextStore::page(u32 page) const {
  const std::lock_guard<std::mutex> hold(lock_);
  const auto p = pages_.find(page);
  return p == pages_.end() ? std::map<u32, std::string>{} : p->second;
}

}  // namespace vardelo
