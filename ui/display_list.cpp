#include "ui/display_list.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vardelo {

namespace {

DrawItem item(DrawOp op) {
  DrawItem i;
  i.op = op;
  return i;
}

std::string colorText(std::uint32_t c) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "rgb(%u,%u,%u)", static_cast<unsigned>(redOf(c)),
                static_cast<unsigned>(greenOf(c)), static_cast<unsigned>(blueOf(c)));
  return buf;
}

std::string point(std::int32_t x, std::int32_t y) {
  return "(" + std::to_string(x) + "," + std::to_string(y) + ")";
}

std::string quoted(const char* text, int length) {
  std::string s = "\"";
  for (int k = 0; k < length; ++k) {
    const unsigned char c = static_cast<unsigned char>(text[k]);
    if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
      s += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      s += buf;
    }
  }
  return s + "\"";
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

std::string describe(const DrawItem& i) {
  const std::string slot = std::to_string(i.pen);
  switch (i.op) {
    case DrawOp::SelectFont: return "font";
    case DrawOp::SetBackMode:
      return i.mode == BackgroundMode::Opaque ? "back mode opaque" : "back mode transparent";
    case DrawOp::SetBackColor: return "back color " + colorText(i.color);
    case DrawOp::FillRect:
      return "fill " + point(i.x, i.y) + "-" + point(i.right, i.bottom) + " " +
             colorText(i.color);
    case DrawOp::NewPen:
      return "pen " + slot + (i.style == PenStyle::Solid ? " solid " : " dot ") +
             std::to_string(i.width) + " " + colorText(i.color);
    case DrawOp::SelectPen: return "select pen " + slot;
    case DrawOp::FreePen: return "free pen " + slot;
    case DrawOp::MoveTo: return "move " + point(i.x, i.y);
    case DrawOp::LineTo: return "line " + point(i.x, i.y);
    case DrawOp::Text:
      return "text " + point(i.x, i.y) + " " + colorText(i.color) + " " +
             quoted(i.text, i.textLength) +
             (i.right ? " before x " + std::to_string(i.right) : std::string());
  }
  return "?";
}

std::string describe(const DisplayList& list) {
  std::string s;
  for (const DrawItem& i : list.items) s += describe(i) + "\n";
  return s;
}

std::string listDifference(const DisplayList& got, const DisplayList& expected) {
  const std::size_t n = std::max(got.items.size(), expected.items.size());
  for (std::size_t k = 0; k < n; ++k) {
    const bool haveGot = k < got.items.size();
    const bool haveExpected = k < expected.items.size();
    if (haveGot && haveExpected && got.items[k] == expected.items[k]) continue;
    return "item " + std::to_string(k) + ": expected " +
           (haveExpected ? describe(expected.items[k]) : "(end)") + ", got " +
           (haveGot ? describe(got.items[k]) : "(end)");
  }
  return "";
}

}  // namespace vardelo
