// Display lists as text, for test messages: one line per item ("line (44,256)",
// "pen 1 dot 1 rgb(0,0,0)", ...), and where two lists part.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "ui/display_list.h"

namespace vardelo {

namespace display_list_text {

inline std::string colorText(std::uint32_t c) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "rgb(%u,%u,%u)", static_cast<unsigned>(redOf(c)),
                static_cast<unsigned>(greenOf(c)), static_cast<unsigned>(blueOf(c)));
  return buf;
}

inline std::string point(std::int32_t x, std::int32_t y) {
  return "(" + std::to_string(x) + "," + std::to_string(y) + ")";
}

inline std::string quoted(const char* text, int length) {
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

}  // namespace display_list_text

// Bytes outside printable ASCII show as \xNN.
inline std::string describe(const DrawItem& i) {
  using namespace display_list_text;
  const std::string slot = std::to_string(i.pen);
  switch (i.op) {
    case DrawOp::SelectFont: return "font";
    case DrawOp::SetBackMode:
      return i.mode == BackgroundMode::Opaque ? "back mode opaque" : "back mode transparent";
    case DrawOp::SetBackColor: return "back color " + colorText(i.color);
    case DrawOp::FillRect:
      return "fill " + point(i.x, i.y) + "-" + point(i.right, i.bottom) + " " + colorText(i.color);
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

inline std::string describe(const DisplayList& list) {
  std::string s;
  for (const DrawItem& i : list.items) s += describe(i) + "\n";
  return s;
}

// Empty when the lists are equal; otherwise the first item where they part, as
// "item K: expected <item>, got <item>", with "(end)" past the shorter list.
inline std::string listDifference(const DisplayList& got, const DisplayList& expected) {
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
