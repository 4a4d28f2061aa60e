// What a chart paint draws, as a list of plain values: the painters build it from a snapshot of
// the shared state, the GDI player (ui/gdi_player_win.h) puts it onto the page, and the host
// tests compare it item by item with the geometry the charts must have.
//
// The list holds drawing only. Opening and closing the paint (BeginPaint, GetDC, giving the font
// back, ReleaseDC, EndPaint) belong to the player's paint bracket, and page fields travel apart
// as FieldUpdates.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vardelo {

// A colour as the platform takes it: 0x00BBGGRR.
constexpr std::uint32_t rgb(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
  return red | green << 8 | blue << 16;
}
constexpr std::uint32_t redOf(std::uint32_t color) { return color & 0xFF; }
constexpr std::uint32_t greenOf(std::uint32_t color) { return color >> 8 & 0xFF; }
constexpr std::uint32_t blueOf(std::uint32_t color) { return color >> 16 & 0xFF; }

enum class PenStyle : std::uint8_t { Solid, Dot };
// Opaque: text cells and the gaps of dotted pens are painted in the background colour.
enum class BackgroundMode : std::uint8_t { Opaque, Transparent };

enum class DrawOp : std::uint8_t {
  SelectFont,    // create the chart font and select it; it stays until the paint closes
  SetBackMode,   // mode
  SetBackColor,  // color
  FillRect,      // (x, y)-(right, bottom), right column and bottom row excluded; color
  NewPen,        // pen slot, style, width, color: create the pen and select it
  SelectPen,     // pen slot
  FreePen,       // pen slot: take it out of the surface and delete it
  MoveTo,        // x, y
  LineTo,        // x, y; the end point is not drawn
  Text,          // x, y (top left of the text cell), color, text; right: the column the text
                 // must end before (0: the surface's right edge)
};

// Pens a list may hold at one time; the frame keeps its fine and coarse grid pens together.
inline constexpr std::uint8_t PEN_SLOTS = 2;
// Longest text an item carries; the longest the charts draw is 19 characters.
inline constexpr int DRAW_TEXT_MAX = 23;

struct DrawItem {
  DrawOp op = DrawOp::MoveTo;
  std::uint8_t pen = 0;  // slot
  PenStyle style = PenStyle::Solid;
  std::uint8_t width = 0;
  BackgroundMode mode = BackgroundMode::Opaque;
  std::uint8_t textLength = 0;
  std::int32_t x = 0, y = 0;
  std::int32_t right = 0, bottom = 0;
  std::uint32_t color = 0;
  char text[DRAW_TEXT_MAX] = {};  // code page 1251 bytes, textLength of them, the rest zero

  bool operator==(const DrawItem&) const = default;
};

struct DisplayList {
  std::vector<DrawItem> items;

  void selectFont();
  void setBackMode(BackgroundMode mode);
  void setBackColor(std::uint32_t color);
  void fillRect(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom,
                std::uint32_t color);
  void newPen(std::uint8_t slot, PenStyle style, std::uint8_t width, std::uint32_t color);
  void selectPen(std::uint8_t slot);
  void freePen(std::uint8_t slot);
  void moveTo(std::int32_t x, std::int32_t y);
  void lineTo(std::int32_t x, std::int32_t y);
  // Draws the first `length` bytes of `text` (cut to DRAW_TEXT_MAX), ending before column
  // `right` (0: the surface's right edge).
  void text(std::int32_t x, std::int32_t y, std::uint32_t color, const char* text, int length,
            std::int32_t right = 0);
};

}  // namespace vardelo
