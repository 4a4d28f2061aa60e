#include "ui/gdi_player_win.h"

#include <algorithm>

#include "core/text_1251.h"

namespace vardelo {

namespace {

constexpr int CHART_FONT_HEIGHT = 15;
constexpr BYTE CYRILLIC_CHARSET = RUSSIAN_CHARSET;  // 204

void track(GdiPlayback& p, HGDIOBJ object) {
  if (p.createdCount < PAINT_OBJECTS_MAX) p.created[p.createdCount++] = object;
}

// A pen may be deleted only once it is out of the surface.
void freePen(GdiPlayback& p, int slot) {
  if (p.pens[slot] == nullptr) return;
  if (p.selectedPen == slot) {
    SelectObject(p.dc, p.keptPen);
    p.selectedPen = -1;
  }
  DeleteObject(p.pens[slot]);
  p.pens[slot] = nullptr;
}

void selectPen(GdiPlayback& p, int slot) {
  if (p.pens[slot] == nullptr) return;
  const HGDIOBJ previous = SelectObject(p.dc, p.pens[slot]);
  if (p.selectedPen < 0) p.keptPen = previous;
  p.selectedPen = slot;
}

void newPen(GdiPlayback& p, const DrawItem& i) {
  freePen(p, i.pen);
  const int style = i.style == PenStyle::Dot ? PS_DOT : PS_SOLID;
  p.pens[i.pen] = CreatePen(style, i.width, i.color);
  track(p, p.pens[i.pen]);
  selectPen(p, i.pen);
}

void freeBrush(GdiPlayback& p) {
  if (p.brush != nullptr) DeleteObject(p.brush);
  p.brush = nullptr;
}

// Fills in a row with one colour share one brush; FillRect does not select it into the surface.
void fillRect(GdiPlayback& p, const DrawItem& i) {
  if (p.brush == nullptr || p.brushColor != i.color) {
    freeBrush(p);
    p.brush = CreateSolidBrush(i.color);
    p.brushColor = i.color;
    track(p, p.brush);
  }
  RECT r;
  SetRect(&r, i.x, i.y, i.right, i.bottom);
  FillRect(p.dc, &r, p.brush);
}

void selectFont(GdiPlayback& p) {
  const HFONT font = createChartFont();
  track(p, font);
  const HGDIOBJ previous = SelectObject(p.dc, font);
  if (p.font == nullptr) {
    p.keptFont = previous;
  } else {
    DeleteObject(p.font);
  }
  p.font = font;
}

void text(GdiPlayback& p, const DrawItem& i) {
  if (!p.textColorSet || p.textColor != i.color) {
    SetTextColor(p.dc, i.color);
    p.textColor = i.color;
    p.textColorSet = true;
  }
  wchar_t wide[DRAW_TEXT_MAX + 1];
  const std::size_t n = toUtf16From1251(i.text, i.textLength, wide, DRAW_TEXT_MAX + 1);
  int right = i.right;
  if (right == 0) {
    RECT client{};
    GetClientRect(WindowFromDC(p.dc), &client);
    right = client.right;
  }
  textOutWithin(p.dc, i.x, i.y, wide, static_cast<int>(n), right);
}

void play(GdiPlayback& p, const DrawItem& i) {
  switch (i.op) {
    case DrawOp::SelectFont: selectFont(p); break;
    case DrawOp::SetBackMode:
      SetBkMode(p.dc, i.mode == BackgroundMode::Transparent ? TRANSPARENT : OPAQUE);
      break;
    case DrawOp::SetBackColor: SetBkColor(p.dc, i.color); break;
    case DrawOp::FillRect: fillRect(p, i); break;
    case DrawOp::NewPen: newPen(p, i); break;
    case DrawOp::SelectPen: selectPen(p, i.pen); break;
    case DrawOp::FreePen: freePen(p, i.pen); break;
    case DrawOp::MoveTo: MoveToEx(p.dc, i.x, i.y, nullptr); break;
    case DrawOp::LineTo: LineTo(p.dc, i.x, i.y); break;
    case DrawOp::Text: text(p, i); break;
  }
}

}  // namespace

void textOutWithin(HDC dc, int x, int y, const wchar_t* text, int length, int right) {
  SIZE extent{};
  GetTextExtentPoint32W(dc, text, length, &extent);
  const int room = right - x;
  if (room <= 0 || extent.cx <= room) {
    TextOutW(dc, x, y, text, length);
    return;
  }
  LOGFONTW look{};
  TEXTMETRICW metrics{};
  GetObjectW(GetCurrentObject(dc, OBJ_FONT), sizeof look, &look);
  GetTextMetricsW(dc, &metrics);
  // The same font with a smaller average width, one step narrower each time until it fits.
  look.lfWidth = std::max<LONG>(1, metrics.tmAveCharWidth * room / extent.cx);
  const HGDIOBJ kept = GetCurrentObject(dc, OBJ_FONT);
  HFONT narrow = nullptr;
  for (int step = 0; step < 8; ++step) {
    if (narrow != nullptr) {
      SelectObject(dc, kept);
      DeleteObject(narrow);
    }
    narrow = CreateFontIndirectW(&look);
    SelectObject(dc, narrow);
    GetTextExtentPoint32W(dc, text, length, &extent);
    if (extent.cx <= room || look.lfWidth <= 1) break;
    --look.lfWidth;
  }
  TextOutW(dc, x, y, text, length);
  SelectObject(dc, kept);
  DeleteObject(narrow);
}

HFONT createChartFont() {
  return CreateFontA(CHART_FONT_HEIGHT, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, CYRILLIC_CHARSET,
                     0, 0, 0, 0, "script");
}

void beginPlayback(GdiPlayback& playback, HDC dc) {
  playback = GdiPlayback{};
  playback.dc = dc;
}

void playDisplayList(GdiPlayback& playback, const DisplayList& list) {
  for (const DrawItem& item : list.items) play(playback, item);
  // A list frees its own pens; whatever it left is freed here all the same.
  for (int slot = 0; slot < PEN_SLOTS; ++slot) freePen(playback, slot);
  freeBrush(playback);
}

void endPlayback(GdiPlayback& playback) {
  if (playback.font == nullptr) return;
  SelectObject(playback.dc, playback.keptFont);
  DeleteObject(playback.font);
  playback.font = nullptr;
}

void openChartPaint(ChartPaintBracket& bracket, HWND window) {
  bracket.window = window;
  BeginPaint(window, &bracket.paint);
  beginPlayback(bracket.playback, GetDC(window));
}

void closeChartPaint(ChartPaintBracket& bracket) {
  endPlayback(bracket.playback);
  ReleaseDC(bracket.window, bracket.playback.dc);
  EndPaint(bracket.window, &bracket.paint);
}

}  // namespace vardelo
