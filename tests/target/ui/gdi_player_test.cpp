// The GDI player under Wine: display lists played onto a memory surface (a DIB section in a
// compatible DC) put their pixels where the list says, and a paint leaves no GDI object behind.
#include "ui/gdi_player_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/cache_chart.h"
#include "ui/ram_charts.h"

namespace vardelo {
namespace {

constexpr int WIDTH = 400;
constexpr int HEIGHT = 380;
constexpr COLORREF WHITE = RGB(255, 255, 255);
constexpr COLORREF BACK = RGB(187, 187, 192);

// A 32-bit top-down bitmap selected into a memory DC; pixels read straight from its bits.
struct Canvas {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ oldBitmap = nullptr;
  std::uint32_t* bits = nullptr;

  Canvas() {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = WIDTH;
    info.bmiHeader.biHeight = -HEIGHT;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    bits = static_cast<std::uint32_t*>(pixels);
    dc = CreateCompatibleDC(nullptr);
    oldBitmap = SelectObject(dc, bitmap);
  }
  ~Canvas() {
    SelectObject(dc, oldBitmap);
    DeleteDC(dc);
    DeleteObject(bitmap);
  }
  // As a COLORREF; the bitmap holds 0x00RRGGBB.
  COLORREF at(int x, int y) const {
    GdiFlush();
    const std::uint32_t v = bits[y * WIDTH + x] & 0xFFFFFF;
    return RGB(v >> 16 & 0xFF, v >> 8 & 0xFF, v & 0xFF);
  }
  int count(int x0, int y0, int x1, int y1, COLORREF c) const {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) n += at(x, y) == c;
    return n;
  }
};

std::string colorName(COLORREF c) {
  return "rgb(" + std::to_string(GetRValue(c)) + "," + std::to_string(GetGValue(c)) + "," +
         std::to_string(GetBValue(c)) + ")";
}

void play(Canvas& canvas, const DisplayList& list) {
  GdiPlayback playback;
  beginPlayback(playback, canvas.dc);
  playDisplayList(playback, list);
  endPlayback(playback);
}

TEST(GdiPlayer, FillsAndLinesLandWhereTheListSays) {
  DisplayList list;
  list.fillRect(0, 0, WIDTH, HEIGHT, WHITE);
  list.fillRect(44, 6, 364, 256, RGB(0, 0, 0));
  list.newPen(0, PenStyle::Solid, 1, RGB(255, 0, 0));
  list.moveTo(50, 100);
  list.lineTo(60, 100);
  list.newPen(1, PenStyle::Solid, 1, RGB(0, 255, 0));
  list.moveTo(70, 20);
  list.lineTo(70, 30);
  list.selectPen(0);
  list.moveTo(80, 40);
  list.lineTo(90, 40);
  list.freePen(0);
  list.freePen(1);
  list.newPen(0, PenStyle::Solid, 2, RGB(0, 0, 255));
  list.moveTo(100, 150);
  list.lineTo(120, 150);
  list.freePen(0);
  Canvas canvas;
  play(canvas, list);

  const struct {
    int x, y;
    COLORREF color;
    const char* what;
  } cases[] = {
      {44, 6, RGB(0, 0, 0), "plot's top left"},
      {363, 255, RGB(0, 0, 0), "plot's bottom right"},
      {364, 255, WHITE, "right column excluded"},
      {44, 256, WHITE, "bottom row excluded"},
      {43, 6, WHITE, "left of the plot"},
      {50, 100, RGB(255, 0, 0), "line start"},
      {59, 100, RGB(255, 0, 0), "line's last pixel"},
      {60, 100, RGB(0, 0, 0), "line end excluded"},
      {70, 20, RGB(0, 255, 0), "second pen"},
      {70, 30, RGB(0, 0, 0), "second line's end excluded"},
      {85, 40, RGB(255, 0, 0), "first pen selected again"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(colorName(canvas.at(c.x, c.y)), colorName(c.color))
        << c.what << " at (" << c.x << "," << c.y << ")";
  }
  EXPECT_EQ(canvas.count(110, 140, 111, 160, RGB(0, 0, 255)), 2) << "a pen of width 2";
}

// The marker: a dotted pen over the black plot shows its gaps in the background colour while the
// mode is opaque, and nothing of them when it is transparent.
TEST(GdiPlayer, DottedPenGapsFollowTheBackgroundMode) {
  for (bool opaque : {true, false}) {
    DisplayList list;
    list.setBackColor(BACK);
    list.fillRect(0, 0, WIDTH, HEIGHT, RGB(0, 0, 0));
    if (!opaque) list.setBackMode(BackgroundMode::Transparent);
    list.newPen(0, PenStyle::Dot, 1, RGB(0, 0, 0));
    list.moveTo(140, 6);
    list.lineTo(140, 256);
    list.freePen(0);
    Canvas canvas;
    play(canvas, list);
    const int gaps = canvas.count(140, 6, 141, 256, BACK);
    const int dots = canvas.count(140, 6, 141, 256, RGB(0, 0, 0));
    EXPECT_EQ(gaps + dots, 250) << (opaque ? "opaque" : "transparent");
    if (opaque) {
      EXPECT_GT(gaps, 50);
      EXPECT_GT(dots, 50);
    } else {
      EXPECT_EQ(gaps, 0);
    }
    EXPECT_EQ(canvas.count(139, 0, 142, HEIGHT, BACK), gaps) << "only the marker's column";
  }
}

TEST(GdiPlayer, TextsLandInTheirCellInTheirColour) {
  const COLORREF blue = RGB(0, 150, 255);
  for (bool opaque : {true, false}) {
    DisplayList list;
    list.selectFont();
    list.setBackColor(BACK);
    list.fillRect(0, 0, WIDTH, HEIGHT, RGB(0, 0, 0));
    if (!opaque) list.setBackMode(BackgroundMode::Transparent);
    list.text(274, 26, blue, "32", 2);
    Canvas canvas;
    play(canvas, list);
    const char* mode = opaque ? "opaque" : "transparent";
    const int inCell = canvas.count(274, 26, 304, 42, blue);
    EXPECT_GT(inCell, 5) << mode;
    EXPECT_EQ(canvas.count(0, 0, WIDTH, HEIGHT, blue), inCell) << mode << ": outside the cell";
    // The cell's own background: the margin colour when opaque, untouched when transparent.
    EXPECT_EQ(colorName(canvas.at(274, 26)), colorName(opaque ? BACK : RGB(0, 0, 0))) << mode;
  }
}

// The 1251 bytes of "Чтение" come out as the same pixels as the wide text itself.
TEST(GdiPlayer, CyrillicTextsAreConvertedFromCodePage1251) {
  DisplayList list;
  list.selectFont();
  list.fillRect(0, 0, WIDTH, HEIGHT, WHITE);
  list.setBackMode(BackgroundMode::Transparent);
  list.text(10, 10, RGB(0, 0, 0), "\xD7\xF2\xE5\xED\xE8\xE5", 6);
  Canvas played;
  play(played, list);

  Canvas wide;
  RECT all{0, 0, WIDTH, HEIGHT};
  FillRect(wide.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  const HFONT font = createChartFont();
  const HGDIOBJ old = SelectObject(wide.dc, font);
  SetBkMode(wide.dc, TRANSPARENT);
  TextOutW(wide.dc, 10, 10, L"\x0427\x0442\x0435\x043D\x0438\x0435", 6);
  SelectObject(wide.dc, old);
  DeleteObject(font);

  int inked = 0, different = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 150; ++x) {
      inked += wide.at(x, y) != WHITE;
      different += played.at(x, y) != wide.at(x, y);
    }
  }
  EXPECT_GT(inked, 20);
  EXPECT_EQ(different, 0);
}

// The heaviest paints the program makes: the write page with eight curves smoothed 32 times,
// full frame and curves only, and a full cache paint.
std::vector<DisplayList> heavyPaints() {
  std::vector<DisplayList> lists;
  RamChartSnapshot ram{};
  ram.chart = Chart::Write;
  ram.maximum = 20000000;
  ram.storedScale = chartScaleFor(ram.maximum);
  ram.backColor = BACK;
  ram.filterLevel = 6;
  ram.paintCount = 1;
  ram.curveCount = RAM_PAGE_CURVES;
  for (int c = 0; c < RAM_PAGE_CURVES; ++c) {
    for (int k = 0; k < RAM_CURVE_ENTRIES; ++k) {
      ram.curves[c][k] = k < RAM_POINTS ? 1000000u * (c + 1) + 5000u * (k % 7) : NO_POINT;
    }
  }
  RamCurveCopy smoothed;
  for (bool full : {true, false}) {
    ram.fullFrame = full;
    lists.push_back(buildRamPaint(ram, smoothed).drawing.list);
  }
  CacheChartSnapshot cache{};
  cache.fullFrame = true;
  cache.maximum = 40000000;
  cache.backColor = BACK;
  for (int i = 0; i < CACHE_CURVE_ENTRIES; ++i) {
    cache.dcache[i] = cache.icache[i] = i < CACHE_POINTS ? 40000000u - 200000u * i : NO_POINT;
  }
  lists.push_back(buildCachePaint(cache).list);
  return lists;
}

TEST(GdiPlayer, NoObjectOutlivesItsPaint) {
  const std::vector<DisplayList> lists = heavyPaints();
  // A list that leaves its pen in the surface and in its slot.
  DisplayList careless;
  careless.selectFont();
  careless.newPen(0, PenStyle::Dot, 1, RGB(1, 2, 3));
  careless.newPen(0, PenStyle::Solid, 2, RGB(4, 5, 6));
  careless.moveTo(1, 1);
  careless.lineTo(5, 5);

  Canvas canvas;
  const HGDIOBJ ownPen = GetCurrentObject(canvas.dc, OBJ_PEN);
  const HGDIOBJ ownFont = GetCurrentObject(canvas.dc, OBJ_FONT);
  const DWORD objectsBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  const DisplayList* played[] = {&lists[0], &lists[1], &lists[2], &careless};
  int checked = 0;
  for (int round = 0; round < 100; ++round) {
    for (int l = 0; l < 4; ++l) {
      GdiPlayback playback;
      beginPlayback(playback, canvas.dc);
      playDisplayList(playback, *played[l]);
      EXPECT_EQ(GetCurrentObject(canvas.dc, OBJ_PEN), ownPen);
      endPlayback(playback);
      EXPECT_EQ(GetCurrentObject(canvas.dc, OBJ_FONT), ownFont);
      ASSERT_LT(playback.createdCount, PAINT_OBJECTS_MAX);
      for (int k = 0; k < playback.createdCount; ++k) {
        // A deleted object has no type; one deleted while still selected would keep its type.
        ASSERT_EQ(GetObjectType(playback.created[k]), 0u)
            << "object " << k << " of list " << l << ", round " << round;
        ++checked;
      }
    }
  }
  // Font, brushes and pens: 1 + 2 + 11 for the full write paint, 1 + 8 curves only, 1 + 2 + 4
  // for the cache paint, 1 + 2 for the careless list.
  EXPECT_EQ(checked, 100 * (14 + 9 + 7 + 3));
  // Zero under Wine, which does not count; the handles' types above hold there.
  EXPECT_EQ(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), objectsBefore);
}

// On a page window: BeginPaint validates the pending update, drawing goes through GetDC, and
// closing gives everything back.
TEST(GdiPlayer, PaintBracketOnAWindow) {
  const HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_CLIPCHILDREN, 0, 0, WIDTH,
                                      HEIGHT, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  // Wine makes windows only with a display to show them on.
  if (window == nullptr) GTEST_SKIP() << "no window can be created here (no display?)";
  InvalidateRect(window, nullptr, FALSE);
  ChartPaintBracket bracket;
  openChartPaint(bracket, window);
  ASSERT_NE(bracket.playback.dc, nullptr);
  playDisplayList(bracket.playback, heavyPaints()[2]);
  closeChartPaint(bracket);
  EXPECT_FALSE(GetUpdateRect(window, nullptr, FALSE));
  EXPECT_EQ(bracket.playback.createdCount, 7);
  for (int k = 0; k < bracket.playback.createdCount; ++k) {
    EXPECT_EQ(GetObjectType(bracket.playback.created[k]), 0u) << "object " << k;
  }
  DestroyWindow(window);
}

}  // namespace
}  // namespace vardelo
