#include "ui/display_list.h"

#include <algorithm>
#include <cstring>

namespace vardelo {

namespace {

DrawItem item(DrawOp op) {
  DrawItem i;
  i.op = op;
  return i;
}

}  // namespace

void DisplayList::selectFont() { items.push_back(item(DrawOp::SelectFont)); }

void DisplayList::setBackMode(BackgroundMode mode) {
  DrawItem i = item(DrawOp::SetBackMode);
  i.mode = mode;
  items.push_back(i);
}

void DisplayList::setBackColor(std::uint32_t color) {
  DrawItem i = item(DrawOp::SetBackColor);
  i.color = color;
  items.push_back(i);
}

void DisplayList::fillRect(std::int32_t left, std::int32_t top, std::int32_t right,
                           std::int32_t bottom, std::uint32_t color) {
  DrawItem i = item(DrawOp::FillRect);
  i.x = left, i.y = top, i.right = right, i.bottom = bottom, i.color = color;
  items.push_back(i);
}

void DisplayList::newPen(std::uint8_t slot, PenStyle style, std::uint8_t width,
                         std::uint32_t color) {
  DrawItem i = item(DrawOp::NewPen);
  i.pen = slot, i.style = style, i.width = width, i.color = color;
  items.push_back(i);
}

void DisplayList::selectPen(std::uint8_t slot) {
  DrawItem i = item(DrawOp::SelectPen);
  i.pen = slot;
  items.push_back(i);
}

void DisplayList::freePen(std::uint8_t slot) {
  DrawItem i = item(DrawOp::FreePen);
  i.pen = slot;
  items.push_back(i);
}

void DisplayList::moveTo(std::int32_t x, std::int32_t y) {
  DrawItem i = item(DrawOp::MoveTo);
  i.x = x, i.y = y;
  items.push_back(i);
}

void DisplayList::lineTo(std::int32_t x, std::int32_t y) {
  DrawItem i = item(DrawOp::LineTo);
  i.x = x, i.y = y;
  items.push_back(i);
}

void DisplayList::text(std::int32_t x, std::int32_t y, std::uint32_t color, const char* text,
                       int length, std::int32_t right) {
  DrawItem i = item(DrawOp::Text);
  i.x = x, i.y = y, i.color = color, i.right = right;
  const int n = std::clamp(length, 0, DRAW_TEXT_MAX);
  std::memcpy(i.text, text, static_cast<std::size_t>(n));
  i.textLength = static_cast<std::uint8_t>(n);
  items.push_back(i);
}

}  // namespace vardelo
