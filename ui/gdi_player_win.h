// Plays a chart's display list onto a device context with GDI, and the bracket every chart paint
// runs in.
//
// Every pen, brush and font the list asks for is created during the paint and deleted before it
// ends: pens and brushes by the end of the list, the chart font when the paint closes. Texts are
// code page 1251 bytes; they are converted explicitly and drawn with the wide call, so they read
// the same whatever the system's ANSI code page is.
#pragma once

#include <windows.h>

#include "ui/display_list.h"

namespace vardelo {

// The font of all chart texts and of the processor header: 15 pixels high, normal weight,
// Cyrillic character set, face "script" as the system's font mapper resolves it.
HFONT createChartFont();

// Draws `text` at (x, y) with the font in the surface. A text that would reach past `right` (a
// stand-in for a face the system lacks may be wider than the face) is drawn with a narrowed copy
// of the font, created and deleted here.
void textOutWithin(HDC dc, int x, int y, const wchar_t* text, int length, int right);

// Objects a paint may create: the chart font, two brushes, and pens for the grid, the marker and
// eight curves, with room to spare.
inline constexpr int PAINT_OBJECTS_MAX = 32;

// The state of one playback onto `dc`.
struct GdiPlayback {
  HDC dc = nullptr;
  HPEN pens[PEN_SLOTS] = {};
  int selectedPen = -1;          // slot whose pen is in the surface, or -1
  HGDIOBJ keptPen = nullptr;     // the surface's pen before the list's first
  HBRUSH brush = nullptr;        // kept across fills of one colour
  COLORREF brushColor = 0;
  HFONT font = nullptr;
  HGDIOBJ keptFont = nullptr;    // the surface's font before the chart font
  bool textColorSet = false;
  COLORREF textColor = 0;
  // Every object created, in order, so that a check can see each one is gone afterwards.
  HGDIOBJ created[PAINT_OBJECTS_MAX] = {};
  int createdCount = 0;
};

void beginPlayback(GdiPlayback& playback, HDC dc);
// Draws the items in order. Pens and brushes are freed by the time it returns; the chart font
// stays selected until endPlayback.
void playDisplayList(GdiPlayback& playback, const DisplayList& list);
// Selects the surface's own font back and deletes the chart font.
void endPlayback(GdiPlayback& playback);

// A chart paint on a page window: BeginPaint validates the page's pending update region, and the
// drawing goes to GetDC's surface for the whole client area (child controls clipped out), not to
// the one BeginPaint returns.
struct ChartPaintBracket {
  HWND window = nullptr;
  PAINTSTRUCT paint = {};
  GdiPlayback playback;
};
void openChartPaint(ChartPaintBracket& bracket, HWND window);
// The font back and deleted, ReleaseDC, EndPaint.
void closeChartPaint(ChartPaintBracket& bracket);

}  // namespace vardelo
