// The window under Wine: the templates as stored in vardelo.exe, and the main dialog and its
// pages created from them and driven with the messages a person's clicks would send.
//
// The templates are read from vardelo.exe, which the build puts one folder above this program,
// loaded as a data file. The main dialog is created modeless here, and the two hand-offs that
// must not happen in a test (the end of the process, the shell) are replaced by recorders.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "core/bench_state.h"
#include "core/text_1251.h"
#include "ui/dialog_font_win.h"
#include "ui/main_dialog_logic.h"
#include "ui/ui.h"
#include "tests/support/bench_reset.h"
#include "vardelo_version.h"

namespace vardelo {
namespace {

using std::u16string;

HMODULE resourceModule() {
  static const HMODULE module = [] {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring exe(path, n);
    exe.erase(exe.find_last_of(L"\\/") + 1);
    exe += L"..\\vardelo.exe";
    return LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }();
  return module;
}

u16string toU16(const wchar_t* text) { return u16string(reinterpret_cast<const char16_t*>(text)); }

// ---- The templates, parsed from their bytes ----------------------------------------------

struct Control {
  u16 id;
  u16string cls;
  u16string text;
  i32 x, y, w, h;
  u32 style;
};

struct Dialog {
  u32 style;
  i32 x, y, w, h;
  u16string caption;
  u16 pointSize;
  u16string face;
  std::vector<Control> controls;
};

class TemplateReader {
 public:
  explicit TemplateReader(const u8* bytes) : p_(bytes), start_(bytes) {}
  u16 word() { u16 v; std::memcpy(&v, p_, 2); p_ += 2; return v; }
  u32 dword() { u32 v; std::memcpy(&v, p_, 4); p_ += 4; return v; }
  i32 coord() { return static_cast<std::int16_t>(word()); }
  void alignDword() { while ((p_ - start_) % 4 != 0) ++p_; }
  // A string, an ordinal (0xFFFF then its number) or nothing (0).
  u16string nameOrOrdinal() {
    if (u16 first; std::memcpy(&first, p_, 2), first == 0xFFFF) {
      p_ += 2;
      switch (const u16 ordinal = word()) {
        case 0x80: return u"Button";
        case 0x82: return u"Static";
        default: return u"#" + u16string(1, static_cast<char16_t>(ordinal));
      }
    }
    u16string s;
    while (const u16 c = word()) s += static_cast<char16_t>(c);
    return s;
  }

 private:
  const u8* p_;
  const u8* start_;
};

Dialog parseDialog(const u8* bytes) {
  TemplateReader r(bytes);
  Dialog d{};
  d.style = r.dword();
  r.dword();  // extended style
  const u16 count = r.word();
  d.x = r.coord(), d.y = r.coord(), d.w = r.coord(), d.h = r.coord();
  EXPECT_EQ(r.nameOrOrdinal(), u"") << "menu";
  EXPECT_EQ(r.nameOrOrdinal(), u"") << "window class";
  d.caption = r.nameOrOrdinal();
  if (d.style & DS_SETFONT) {
    d.pointSize = r.word();
    d.face = r.nameOrOrdinal();
  }
  for (u16 i = 0; i < count; ++i) {
    r.alignDword();
    Control c{};
    c.style = r.dword();
    r.dword();
    c.x = r.coord(), c.y = r.coord(), c.w = r.coord(), c.h = r.coord();
    c.id = r.word();
    c.cls = r.nameOrOrdinal();
    c.text = r.nameOrOrdinal();
    const u16 extra = r.word();
    for (u16 b = 0; b < extra; ++b) r.word();
    d.controls.push_back(c);
  }
  return d;
}

const u8* templateBytes(const wchar_t* name) {
  HRSRC found = FindResourceExW(resourceModule(), reinterpret_cast<LPCWSTR>(RT_DIALOG), name,
                                MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT));
  if (found == nullptr) return nullptr;
  return static_cast<const u8*>(LockResource(LoadResource(resourceModule(), found)));
}

// ---- What the templates must hold ---------------------------------------------------------

constexpr u32 C = 0x50001001, Cd = 0x58001001, Ld = 0x58001000, A = 0x50020000;
constexpr u32 R = 0x50031000, V = 0x50031001, P = 0x50010000, D = 0x50010001;
constexpr u16 NONE = 0xFFFF;  // id -1
const char16_t* const S = u"Static";
const char16_t* const B = u"Button";

struct Expected {
  const wchar_t* name;
  u32 style;
  i32 x, y, w, h;
  u16string caption;
  std::vector<Control> controls;
};

std::vector<Control> cachePage() {
  return {
      {NONE, S, u"4K     8K     16K    32K    64K    128K  256K   0.5M    1M     2M    4M", 28,
       160, 215, 9, A},
      {1100, B, u"обновить", 206, 205, 40, 14, P},
      {NONE, S, u"remark:        *  -  данные могут быть неточными", 206, 170, 40, 35, R},
      {NONE, S, u"", 4, 170, 47, 10, C},
      {NONE, S, u"I-cache", 51, 170, 30, 10, C},
      {NONE, S, u"D-cache", 81, 170, 30, 10, C},
      {NONE, S, u"L2", 111, 170, 32, 10, C},
      {NONE, S, u"L3", 143, 170, 30, 10, Cd},
      {NONE, S, u"RAM", 173, 170, 30, 10, C},
      {NONE, S, u"размер", 4, 180, 47, 10, C},
      {100, S, u"", 51, 180, 27, 10, C},
      {NONE, S, u"+", 78, 180, 8, 10, C},
      {101, S, u"", 85, 180, 26, 10, C},
      {102, S, u"", 111, 180, 32, 10, C},
      {103, S, u"", 143, 180, 30, 10, Cd},
      {104, S, u"", 173, 180, 30, 10, C},
      {NONE, S, u"speed (Mb/s)", 4, 190, 47, 10, C},
      {110, S, u"", 51, 190, 30, 10, C},
      {111, S, u"", 81, 190, 30, 10, C},
      {112, S, u"", 111, 190, 32, 10, C},
      {113, S, u"", 143, 190, 30, 10, Cd},
      {114, S, u"", 173, 190, 30, 10, C},
      {NONE, S, u"блок доступа", 4, 200, 47, 10, C},
      {NONE, S, u"-", 51, 200, 60, 10, C},
      {122, S, u"", 111, 200, 32, 10, C},
      {123, S, u"", 143, 200, 30, 10, Cd},
      {124, S, u"", 173, 200, 30, 10, C},
      {139, S, u"mode", 4, 210, 47, 10, Cd},
      {130, S, u"", 51, 210, 30, 10, Ld},
      {131, S, u"", 81, 210, 30, 10, C},
      {132, S, u"", 111, 210, 32, 10, C},
      {133, S, u"", 143, 210, 30, 10, Cd},
      {134, S, u"", 173, 210, 30, 10, C},
  };
}

// The read and write pages differ in the first header cell and in ids, 100 apart.
std::vector<Control> ramPage(u16 base, const char16_t* headerCell) {
  std::vector<Control> c = {
      {NONE, S, u"-3Kb  -2Kb   -1Kb     0      1Kb     2Kb    3Kb    4Kb     5Kb    6Kb    7K",
       28, 160, 217, 9, A},
      {static_cast<u16>(base + 1001), B, u"фильтр 4", 206, 190, 40, 14, P},
      {static_cast<u16>(base + 1000), B, u"обновить", 206, 205, 40, 14, P},
      {NONE, S, headerCell, 4, 170, 47, 10, C},
      {NONE, S, u"мин.", 51, 170, 30, 10, C},
      {NONE, S, u"макс.", 81, 170, 30, 10, C},
      {NONE, S, u"средняя", 111, 170, 32, 10, C},
      {NONE, S, u"линейн.", 143, 170, 30, 10, C},
      {NONE, S, u"эффект.", 173, 170, 30, 10, C},
      {NONE, S, u"Результат:", 206, 170, 40, 10, C},
      {static_cast<u16>(base + 99), S, u"", 206, 180, 40, 10, C},
  };
  const char16_t* rows[4] = {u"32 байта", u"64 байта", u"128 байт", u"256 байт"};
  const i32 xs[5] = {51, 81, 111, 143, 173}, ws[5] = {30, 30, 32, 30, 30};
  for (i32 row = 0; row < 4; ++row) {
    const i32 y = 180 + 10 * row;
    c.push_back({NONE, S, rows[row], 4, y, 47, 10, C});
    for (i32 col = 0; col < 5; ++col)
      c.push_back({static_cast<u16>(base + 10 * row + col), S, u"", xs[col], y, ws[col], 10, C});
  }
  return c;
}

std::vector<Expected> expectedTemplates() {
  return {
      {L"IDD_DIALOG1", 0x80CA00C0, 52, 24, 263, 244,
       u"Memory benchmark v" VARDELO_VERSION " (alpha)",
       {{1011, u"SysTabControl32", u"", 3, 0, 257, 242, 0x50000000}}},
      {L"IDD_CHILD1", 0x52000040, 3, 17, 250, 223, u"", cachePage()},
      {L"IDD_CHILD2", 0x42000040, 3, 17, 250, 223, u"", ramPage(200, u"чтение(Mb/s)")},
      {L"IDD_CHILD3", 0x42000040, 3, 17, 250, 223, u"", ramPage(300, u"запись(Mb/s)")},
      {L"IDD_CHILD4", 0x42000040, 19, 18, 223, 152, u"",
       {{NONE, S, u"Vardelo version " VARDELO_VERSION " alpha", 7, 14, 208, 10, V},
        {1301, B, u"page: vardelo.example.org", 8, 126, 89, 14, D},
        {1302, B, u"mail: vardelo@example.org", 99, 126, 90, 14, D},
        {1300, B, u"close", 191, 126, 24, 14, D}}},
  };
}

bool sameClass(const u16string& a, const u16string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  return true;
}

std::string narrow(const u16string& s) {
  char out[512];
  const int n = WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(s.c_str()),
                                    static_cast<int>(s.size()), out, sizeof out, nullptr, nullptr);
  return std::string(out, n);
}

std::string describe(const Control& c) {
  char text[700];
  std::snprintf(text, sizeof text, "{id %d, %s, \"%s\", (%ld,%ld) %ldx%ld, style %08lX}",
                c.id == NONE ? -1 : c.id, narrow(c.cls).c_str(), narrow(c.text).c_str(),
                static_cast<long>(c.x), static_cast<long>(c.y), static_cast<long>(c.w),
                static_cast<long>(c.h), static_cast<unsigned long>(c.style));
  return text;
}

bool operator==(const Control& a, const Control& b) {
  return a.id == b.id && sameClass(a.cls, b.cls) && a.text == b.text && a.x == b.x &&
         a.y == b.y && a.w == b.w && a.h == b.h && a.style == b.style;
}

TEST(DialogTemplates, EveryDialogAndControlAsLaidOut) {
  ASSERT_NE(resourceModule(), nullptr) << "vardelo.exe not found beside the tests folder";
  for (const Expected& e : expectedTemplates()) {
    const std::string name = narrow(toU16(e.name));
    SCOPED_TRACE(name);
    const u8* bytes = templateBytes(e.name);
    ASSERT_NE(bytes, nullptr) << "no Russian-language dialog resource " << name;
    u32 first;
    std::memcpy(&first, bytes, 4);
    ASSERT_NE(first, 0xFFFF0001u) << "an extended template; a plain one is wanted";
    const Dialog d = parseDialog(bytes);
    EXPECT_EQ(d.style, e.style);
    EXPECT_EQ((std::vector<i32>{d.x, d.y, d.w, d.h}), (std::vector<i32>{e.x, e.y, e.w, e.h}));
    EXPECT_EQ(narrow(d.caption), narrow(e.caption));
    EXPECT_EQ(d.pointSize, 8);
    EXPECT_EQ(narrow(d.face), "MS Sans Serif");
    ASSERT_EQ(d.controls.size(), e.controls.size());
    for (std::size_t i = 0; i < d.controls.size(); ++i) {
      EXPECT_TRUE(d.controls[i] == e.controls[i])
          << "control " << i << ": expected " << describe(e.controls[i]) << ", got "
          << describe(d.controls[i]);
    }
  }
}

TEST(DialogTemplates, IconIsOne32By32ImageIn16Colours) {
  ASSERT_NE(resourceModule(), nullptr);
  HRSRC group = FindResourceW(resourceModule(), L"MYICON", reinterpret_cast<LPCWSTR>(RT_GROUP_ICON));
  ASSERT_NE(group, nullptr);
  const auto* dir = static_cast<const u8*>(LockResource(LoadResource(resourceModule(), group)));
  u16 count;
  std::memcpy(&count, dir + 4, 2);
  ASSERT_EQ(count, 1);
  const u8* entry = dir + 6;  // width, height, colours, reserved, planes, bits, bytes, id
  u16 bits, id;
  u32 bytes;
  std::memcpy(&bits, entry + 6, 2);
  std::memcpy(&bytes, entry + 8, 4);
  std::memcpy(&id, entry + 12, 2);
  EXPECT_EQ((std::vector<u32>{entry[0], entry[1], entry[2], bits, bytes}),
            (std::vector<u32>{32, 32, 16, 4, 744}));
  HRSRC image = FindResourceW(resourceModule(), MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_ICON));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(SizeofResource(resourceModule(), image), 744u);
  BITMAPINFOHEADER header;
  std::memcpy(&header, LockResource(LoadResource(resourceModule(), image)), sizeof header);
  EXPECT_EQ((std::vector<long>{header.biWidth, header.biHeight, header.biBitCount}),
            (std::vector<long>{32, 64, 4}));
}

TEST(Text1251System, TableMatchesTheSystemConversion) {
  for (int b = 1; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    wchar_t system = 0;
    ASSERT_EQ(MultiByteToWideChar(1251, 0, &byte, 1, &system, 1), 1);
    EXPECT_EQ(static_cast<unsigned>(charFrom1251(static_cast<unsigned char>(b))),
              static_cast<unsigned>(system))
        << "byte 0x" << std::hex << b;
  }
}

// ---- The main dialog, created from the templates ------------------------------------------

std::vector<unsigned> endings;
std::vector<std::string> opened;
void recordEnd(unsigned exitCode) { endings.push_back(exitCode); }
void recordOpen(const char* address) { opened.push_back(address); }

class MainDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(resourceModule(), nullptr);
    resetState();
    endProcess = recordEnd;
    shellOpen = recordOpen;
    bench.hInstance = resourceModule();
    dialog = createDialogWithFace(resourceModule(), L"IDD_DIALOG1", nullptr, mainDialogProc);
    ASSERT_NE(dialog, nullptr);
    endings.clear();
  }
  void TearDown() override {
    if (IsWindow(dialog)) DestroyWindow(dialog);
    takePosted();
    resetState();
  }
  static void resetState() {
    endings.clear();
    opened.clear();
    resetBench();
  }
  HWND page(u32 i) const { return static_cast<HWND>(bench.hPages[i].load()); }
  HWND tab() const { return static_cast<HWND>(bench.hTab.load()); }
  // Repaint and show-tab messages waiting for the dialog, taken off its queue.
  std::vector<UINT> takePosted() {
    std::vector<UINT> messages;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, UM_PAINT_CACHE, UM_PAINT_WRITE, PM_REMOVE))
      messages.push_back(msg.message);
    return messages;
  }
  u32 visiblePages() const {  // bit per page whose own style is visible
    u32 bits = 0;
    for (u32 i = 0; i < PAGE_COUNT; ++i)
      if (GetWindowLongW(page(i), GWL_STYLE) & WS_VISIBLE) bits |= 1u << i;
    return bits;
  }
  u16string text(HWND window) const {
    wchar_t buffer[128];
    GetWindowTextW(window, buffer, 128);
    return toU16(buffer);
  }
  LRESULT command(HWND window, WPARAM wParam) { return SendMessageW(window, WM_COMMAND, wParam, 0); }
  void selectTab(i32 index) { SendMessageW(tab(), TCM_SETCURSEL, index, 0); }

  HWND dialog = nullptr;
};

TEST_F(MainDialog, CreatesTabsAndPagesOnlyTheCachePageVisible) {
  EXPECT_EQ(bench.hMainDlg.load(), dialog);
  EXPECT_EQ(tab(), GetDlgItem(dialog, ID_TAB_CONTROL));
  ASSERT_EQ(SendMessageW(tab(), TCM_GETITEMCOUNT, 0, 0), 4);
  const u16string tabs[4] = {u"Cache Speed ", u"Read RAM", u"Write RAM", u"About"};
  for (int i = 0; i < 4; ++i) {
    wchar_t buffer[32] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = buffer;
    item.cchTextMax = 32;
    SendMessageW(tab(), TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(narrow(toU16(buffer)), narrow(tabs[i])) << "tab " << i;
    ASSERT_NE(page(i), nullptr) << "page " << i;
    EXPECT_EQ(GetParent(page(i)), tab()) << "page " << i;
  }
  EXPECT_EQ(visiblePages(), 0b0001u);
  EXPECT_EQ(bench.curPage.load(), 0u);
  EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_EQ(narrow(text(dialog)), "Memory benchmark v" VARDELO_VERSION " (alpha)");
}

// Every number the code addresses a page's control by names a control of that page's template:
// a number that drifted from the template would send its text nowhere.
TEST_F(MainDialog, EveryNamedControlIsOnItsPage) {
  const struct {
    u32 page, id;
  } named[] = {
      {PAGE_CACHE, FIELD_ICACHE_SIZE},  {PAGE_CACHE, FIELD_DCACHE_SIZE},
      {PAGE_CACHE, FIELD_L2_SIZE},      {PAGE_CACHE, FIELD_MEMORY_SIZE},
      {PAGE_CACHE, FIELD_ICACHE_SPEED}, {PAGE_CACHE, FIELD_DCACHE_SPEED},
      {PAGE_CACHE, FIELD_L2_SPEED},     {PAGE_CACHE, FIELD_RAM_SPEED},
      {PAGE_CACHE, FIELD_L2_LINE},      {PAGE_CACHE, FIELD_RAM_LINE},
      {PAGE_CACHE, FIELD_FILL_MODE},    {PAGE_CACHE, FIELD_FILL_LABEL},
      {PAGE_CACHE, ID_CACHE_RESTART},   {PAGE_READ, ID_READ_RESTART},
      {PAGE_READ, ID_READ_FILTER},      {PAGE_WRITE, ID_WRITE_RESTART},
      {PAGE_WRITE, ID_WRITE_FILTER},    {PAGE_ABOUT, ID_ABOUT_CLOSE},
      {PAGE_ABOUT, ID_ABOUT_HOME},      {PAGE_ABOUT, ID_ABOUT_MAIL},
  };
  for (const auto& n : named) {
    EXPECT_NE(GetDlgItem(page(n.page), static_cast<int>(n.id)), nullptr)
        << "page " << n.page << ", control " << n.id;
  }
  // The statistics: five columns per block size, and the combined figure.
  for (const u32 p : {PAGE_READ, PAGE_WRITE}) {
    const u32 base = p == PAGE_READ ? READ_FIELDS_BASE : WRITE_FIELDS_BASE;
    for (u32 id = base; id < base + 10 * RAM_BLOCK_KINDS; id += id % 10 == 4 ? 6 : 1) {
      EXPECT_NE(GetDlgItem(page(p), static_cast<int>(id)), nullptr)
          << "page " << p << ", field " << id;
    }
    EXPECT_NE(GetDlgItem(page(p), static_cast<int>(base + COMBINED_FIELD_OFFSET)), nullptr)
        << "page " << p;
  }
}

// The controls as created: in template order, with the class, id and text of the template. The
// Cyrillic texts arrive intact only when the dialogs are created with the wide calls.
TEST_F(MainDialog, PagesHoldTheTemplatesControls) {
  const std::vector<Expected> expected = expectedTemplates();
  for (u32 i = 0; i < PAGE_COUNT; ++i) {
    SCOPED_TRACE("page " + std::to_string(i));
    const std::vector<Control>& controls = expected[i + 1].controls;
    HWND child = GetWindow(page(i), GW_CHILD);
    for (std::size_t k = 0; k < controls.size(); ++k, child = GetWindow(child, GW_HWNDNEXT)) {
      ASSERT_NE(child, nullptr) << "control " << k << " missing";
      wchar_t cls[64];
      GetClassNameW(child, cls, 64);
      // Positions are the template's: the window has them in pixels.
      Control got{static_cast<u16>(GetDlgCtrlID(child)), toU16(cls), text(child),
                  controls[k].x, controls[k].y, controls[k].w, controls[k].h,
                  static_cast<u32>(GetWindowLongW(child, GWL_STYLE))};
      Control want = controls[k];
      if (want.cls == B) {
        // The dialog manager moves the default-button style with the focus.
        want.style &= ~u32{BS_DEFPUSHBUTTON};
        got.style &= ~u32{BS_DEFPUSHBUTTON};
      }
      EXPECT_TRUE(got == want) << "control " << k << ": expected " << describe(want) << ", got "
                               << describe(got);
    }
    EXPECT_EQ(child, nullptr) << "more controls than laid out";
  }
}

std::string faceOf(HWND window) {
  LOGFONTW font{};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)), sizeof font, &font);
  return narrow(toU16(font.lfFaceName));
}

// The templates' own face where it shows Cyrillic, which the setup's Wine prefix provides, with
// the cells the layout was made for; the system's Unicode dialog face elsewhere.
TEST_F(MainDialog, DialogsTakeTheTemplateFaceWhereItShowsCyrillic) {
  EXPECT_TRUE(templateFaceShowsCyrillic()) << "the Wine prefix lacks the setup's fonts";
  const std::string face = templateFaceShowsCyrillic() ? "MS Sans Serif" : "MS Shell Dlg";
  EXPECT_EQ(faceOf(dialog), face);
  for (u32 i = 0; i < PAGE_COUNT; ++i) EXPECT_EQ(faceOf(page(i)), face) << "page " << i;
  RECT units{0, 0, 4, 8};
  MapDialogRect(page(0), &units);
  EXPECT_EQ(units.right, 6);
  EXPECT_EQ(units.bottom, 13);
}

// Every label of every page whole inside its box: one the dialog's font cannot fit there gets
// the smaller face.
TEST_F(MainDialog, EveryStaticTextFitsItsBox) {
  for (u32 i = 0; i < PAGE_COUNT; ++i) {
    for (HWND c = GetWindow(page(i), GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
      wchar_t cls[16] = {}, words[128] = {};
      GetClassNameW(c, cls, 16);
      if (lstrcmpiW(cls, L"Static") != 0 || GetWindowTextW(c, words, 128) == 0) continue;
      RECT box{}, needed{};
      GetClientRect(c, &box);
      needed.right = box.right;
      HDC dc = GetDC(c);
      const auto font = reinterpret_cast<HFONT>(SendMessageW(c, WM_GETFONT, 0, 0));
      HGDIOBJ previous = SelectObject(dc, font);
      DrawTextW(dc, words, -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
      SelectObject(dc, previous);
      ReleaseDC(c, dc);
      EXPECT_TRUE(needed.bottom <= box.bottom && needed.right <= box.right)
          << "page " << i << " label \"" << narrow(toU16(words)) << "\" needs " << needed.right
          << "x" << needed.bottom << " in " << box.right << "x" << box.bottom << " ("
          << faceOf(c) << ")";
    }
  }
}

TEST_F(MainDialog, ShowTabSwapsPagesAndAnnouncesChartPages) {
  struct Step {
    i32 tab;
    bool byNotification;  // the tab control's TCN_SELCHANGE instead of UM_SHOW_TAB
    u32 visible;
    std::vector<UINT> posted;
  };
  const Step steps[] = {
      {3, true, 0b1000, {}},
      {1, false, 0b0010, {UM_PAINT_READ}},
      {2, true, 0b0100, {UM_PAINT_WRITE}},
      {0, false, 0b0001, {UM_PAINT_CACHE}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE("tab " + std::to_string(s.tab));
    const u32 redrawsBefore = bench.cacheRedraw + bench.readRedraw + bench.writeRedraw;
    selectTab(s.tab);
    if (s.byNotification) {
      NMHDR header{tab(), ID_TAB_CONTROL, static_cast<UINT>(TCN_SELCHANGE)};
      SendMessageW(dialog, WM_NOTIFY, ID_TAB_CONTROL, reinterpret_cast<LPARAM>(&header));
    } else {
      SendMessageW(dialog, UM_SHOW_TAB, 0, 0);
    }
    EXPECT_EQ(bench.curPage.load(), static_cast<u32>(s.tab));
    EXPECT_EQ(visiblePages(), s.visible);
    EXPECT_EQ(takePosted(), s.posted);
    EXPECT_EQ(bench.cacheRedraw + bench.readRedraw + bench.writeRedraw - redrawsBefore,
              s.posted.size());
  }
}

TEST_F(MainDialog, RepaintMessagesRunOnlyThePainterOfThePageShown) {
  struct Case {
    i32 tab;
    UINT message;
    u8 readPosted, writePosted;  // a painter that runs clears its page's one-shot
  };
  const Case cases[] = {
      {0, UM_PAINT_READ, 1, 1},
      {1, UM_PAINT_READ, 0, 1},
      {1, UM_PAINT_WRITE, 1, 1},
      {2, UM_PAINT_WRITE, 1, 0},
      {3, UM_PAINT_WRITE, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("tab " + std::to_string(c.tab) + " message " + std::to_string(c.message));
    selectTab(c.tab);
    SendMessageW(dialog, UM_SHOW_TAB, 0, 0);
    takePosted();
    bench.readPosted = 1, bench.writePosted = 1;
    EXPECT_EQ(SendMessageW(dialog, c.message, 0, 0), 0);
    EXPECT_EQ(bench.readPosted.load(), c.readPosted);
    EXPECT_EQ(bench.writePosted.load(), c.writePosted);
  }
}

TEST_F(MainDialog, FilterButtonsCycleTheirCaptionsBackToFour) {
  const u16string captions[7] = {u"фильтр 5", u"фильтр 6", u"фильтр --", u"фильтр 1",
                                 u"фильтр 2", u"фильтр 3", u"фильтр 4"};
  const struct {
    u32 page, id;
    UINT message;
  } buttons[] = {{PAGE_READ, ID_READ_FILTER, UM_PAINT_READ},
                 {PAGE_WRITE, ID_WRITE_FILTER, UM_PAINT_WRITE}};
  for (const auto& b : buttons) {
    for (int press = 0; press < 7; ++press) {
      SCOPED_TRACE("page " + std::to_string(b.page) + ", press " + std::to_string(press + 1));
      EXPECT_EQ(command(page(b.page), b.id), 0);
      EXPECT_EQ(narrow(text(GetDlgItem(page(b.page), static_cast<int>(b.id)))),
                narrow(captions[press]));
      EXPECT_EQ(takePosted(), std::vector<UINT>{b.message});
    }
  }
}

TEST_F(MainDialog, RestartButtonsSetTheirRequestsAndCounters) {
  bench.cacheRestart = 0, bench.ramRestart = 0;
  command(page(PAGE_CACHE), ID_CACHE_RESTART);
  command(page(PAGE_READ), ID_READ_RESTART);
  command(page(PAGE_WRITE), ID_WRITE_RESTART);
  command(page(PAGE_WRITE), ID_WRITE_RESTART);
  EXPECT_EQ(bench.cacheRestart.load(), 1);
  EXPECT_EQ(bench.ramRestart.load(), 3);
  EXPECT_EQ((std::vector<u32>{bench.cacheDirty, bench.readDirty, bench.writeDirty}),
            (std::vector<u32>{1, 1, 2}));
  EXPECT_TRUE(takePosted().empty());
}

// What a watching program's window receives: the copy's tag and bytes.
struct Received {
  ULONG_PTR tag = 0;
  std::vector<unsigned char> bytes;
  int count = 0;
};
Received received;

LRESULT CALLBACK receiveCopy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_COPYDATA) return DefWindowProcW(window, message, wParam, lParam);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
  received.tag = data->dwData;
  const auto* from = static_cast<const unsigned char*>(data->lpData);
  received.bytes.assign(from, from + data->cbData);
  ++received.count;
  return TRUE;
}

TEST_F(MainDialog, SnapshotsCopyTheRecordAndTheTabsToTheAskingWindow) {
  WNDCLASSW type{};
  type.lpfnWndProc = receiveCopy;
  type.hInstance = GetModuleHandleW(nullptr);
  type.lpszClassName = L"SnapshotReceiver";
  RegisterClassW(&type);
  HWND to = CreateWindowExW(0, type.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            type.hInstance, nullptr);
  ASSERT_NE(to, nullptr);
  auto ask = [&](WPARAM what) {
    received = Received{};
    SendMessageW(dialog, UM_SNAPSHOT, what, reinterpret_cast<LPARAM>(to));
  };

  bench.ramRestart = 5;
  bench.readDirty = 0x1234567;
  ask(SNAPSHOT_BENCH);
  ASSERT_EQ(received.count, 1);
  EXPECT_EQ(received.tag, ULONG_PTR{SNAPSHOT_BENCH});
  ASSERT_EQ(received.bytes.size(), sizeof bench);
  EXPECT_EQ(received.bytes[offsetof(BenchState, ramRestart)], 5);
  u32 dirty = 0;
  std::memcpy(&dirty, &received.bytes[offsetof(BenchState, readDirty)], sizeof dirty);
  EXPECT_EQ(dirty, 0x1234567u);

  ask(SNAPSHOT_TAB_RECTS);
  ASSERT_EQ(received.count, 1);
  EXPECT_EQ(received.tag, ULONG_PTR{SNAPSHOT_TAB_RECTS});
  ASSERT_EQ(received.bytes.size(), PAGE_COUNT * sizeof(RECT));
  for (u32 i = 0; i < PAGE_COUNT; ++i) {
    RECT expected{}, got{};
    SendMessageW(tab(), TCM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&expected));
    std::memcpy(&got, &received.bytes[i * sizeof(RECT)], sizeof got);
    EXPECT_TRUE(EqualRect(&expected, &got)) << "tab " << i;
    EXPECT_GT(got.right, got.left) << "tab " << i;
  }

  ask(SNAPSHOT_TAB_RECTS + 1);
  EXPECT_EQ(received.count, 0) << "a copy of something not asked for";
  DestroyWindow(to);
}

TEST_F(MainDialog, EscapeLeavesTheWindowAndClosingEndsTheProcessWithZero) {
  EXPECT_EQ(command(dialog, IDCANCEL), 0);
  EXPECT_TRUE(IsWindow(dialog));
  EXPECT_TRUE(endings.empty());
  SendMessageW(dialog, WM_CLOSE, 0, 0);
  ASSERT_FALSE(endings.empty());
  EXPECT_EQ(endings.front(), 0u);
}

TEST_F(MainDialog, AboutButtonsCloseOpenHomePageAndMail) {
  command(page(PAGE_ABOUT), ID_ABOUT_HOME);
  command(page(PAGE_ABOUT), ID_ABOUT_MAIL);
  EXPECT_EQ(opened, (std::vector<std::string>{HOME_PAGE_ADDRESS, MAIL_ADDRESS}));
  EXPECT_EQ(bench.writeDirty.load(), 0u);  // same ids as the write page's buttons
  EXPECT_EQ(bench.writeFilter.load(), 4);
  command(page(PAGE_ABOUT), ID_ABOUT_CLOSE);
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_EQ(endings, std::vector<unsigned>{0});
}

DWORD WINAPI waitForEvent(void* event) {
  WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
  return 0;
}

TEST_F(MainDialog, RealtimeCommandRaisesAndRestoresPriorities) {
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE workers[2] = {CreateThread(nullptr, 0, waitForEvent, release, 0, nullptr),
                       CreateThread(nullptr, 0, waitForEvent, release, 0, nullptr)};
  bench.hCacheThread = workers[0], bench.hRamThread = workers[1];
  const struct {
    u8 on;
    DWORD processClass;
    int priority;
  } steps[] = {{1, REALTIME_PRIORITY_CLASS, THREAD_PRIORITY_TIME_CRITICAL},
               {0, NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_NORMAL}};
  for (const auto& s : steps) {
    SCOPED_TRACE("switch to " + std::to_string(s.on));
    EXPECT_EQ(command(dialog, CMD_REALTIME), 0);
    EXPECT_EQ(bench.realtimeOn.load(), s.on);
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), s.processClass);
    EXPECT_EQ(GetThreadPriority(workers[0]), s.priority);
    EXPECT_EQ(GetThreadPriority(workers[1]), s.priority);
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
  }
  SetPriorityClass(GetCurrentProcess(), NORMAL_PRIORITY_CLASS);
  SetEvent(release);
  WaitForMultipleObjects(2, workers, TRUE, 10000);
  for (HANDLE h : workers) CloseHandle(h);
  CloseHandle(release);
  bench.hCacheThread = nullptr, bench.hRamThread = nullptr;
}

}  // namespace
}  // namespace vardelo
