// The window under Wine: the templates as stored in vardelo.exe, and the main dialog and its
// pages created from them and driven with the messages a person's clicks would send.
//
// The templates are read from vardelo.exe, which the build puts one folder above this program,
// loaded as a data file, and compared with the resource script beside it. The main dialog is
// created modeless here, and the two hand-offs that must not happen in a test (the end of the
// process, the shell) are replaced by recorders.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/bench_state.h"
#include "core/text_1251.h"
#include "ui/dialog_font_win.h"
#include "ui/main_dialog_logic.h"
#include "ui/painters.h"
#include "ui/ui_win.h"
#include "tests/support/bench_reset.h"
#include "ui/resources/caption.h"
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
  u16 word() {
    u16 v;
    std::memcpy(&v, p_, 2);
    p_ += 2;
    return v;
  }
  u32 dword() {
    u32 v;
    std::memcpy(&v, p_, 4);
    p_ += 4;
    return v;
  }
  i32 coord() { return static_cast<std::int16_t>(word()); }
  void alignDword() {
    while ((p_ - start_) % 4 != 0) ++p_;
  }
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

// ---- The resource script the templates are built from ------------------------------------

// ui/resources/vardelo.rc, which the build copies beside vardelo.exe: the one place each
// control's text, position and style is written. Its dialogs are read here with a reader of the
// few statements it uses, so that a template the build mangled (a text in the wrong code page, a
// style or a position lost) differs from the script.
std::string resourceScript() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring script(path, n);
  script.erase(script.find_last_of(L"\\/") + 1);
  script += L"..\\vardelo.rc";
  std::string text;
  if (FILE* f = _wfopen(script.c_str(), L"rb")) {
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
      text.append(buffer, got);
    std::fclose(f);
  }
  return text;
}

u16string fromUtf8(const std::string& s) {
  if (s.empty()) return u"";
  std::wstring wide(s.size(), L'\0');
  const int n =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), static_cast<int>(s.size()),
                          wide.data(), static_cast<int>(wide.size()));
  EXPECT_GT(n, 0) << "not UTF-8: " << s;
  return u16string(reinterpret_cast<const char16_t*>(wide.data()), n > 0 ? n : 0);
}

// The arguments of a statement, split at commas outside quotes; comments dropped.
std::vector<std::string> arguments(const std::string& line) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (!quoted && c == '/' && i + 1 < line.size() && line[i + 1] == '/') break;
    if (c == '"') quoted = !quoted;
    if (!quoted && c == ',') {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  for (std::string& a : out) {
    a.erase(0, a.find_first_not_of(" \t\r"));
    a.erase(a.find_last_not_of(" \t\r") + 1);
  }
  return out;
}

// A text: quoted pieces and the version or caption macros, joined.
u16string scriptText(const std::string& arg) {
  std::string joined;
  std::size_t i = 0;
  while ((i = arg.find_first_not_of(' ', i)) != std::string::npos) {
    if (arg[i] == '"') {
      const std::size_t end = arg.find('"', i + 1);
      joined += arg.substr(i + 1, end - i - 1);
      i = end + 1;
      continue;
    }
    const std::size_t end = std::min(arg.find(' ', i), arg.size());
    const std::string name = arg.substr(i, end - i);
    if (name == "VARDELO_VERSION") {
      joined += VARDELO_VERSION;
    } else if (name == "VARDELO_CAPTION") {
      joined += VARDELO_CAPTION;
    } else {
      ADD_FAILURE() << "unknown name in a text: " << name;
    }
    i = end;
  }
  return fromUtf8(joined);
}

i32 scriptNumber(const std::string& arg) {
  return static_cast<i32>(std::strtoll(arg.c_str(), nullptr, 0));
}

struct ScriptDialog {
  std::string name;
  Dialog dialog;
};

std::vector<ScriptDialog> scriptDialogs() {
  std::vector<ScriptDialog> dialogs;
  std::istringstream in(resourceScript());
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string first, second;
    words >> first >> second;
    if (second == "DIALOG") {
      std::string rest;
      std::getline(words, rest);
      const std::vector<std::string> a = arguments(rest);
      Dialog d{};
      if (a.size() == 4) {
        d.x = scriptNumber(a[0]), d.y = scriptNumber(a[1]);
        d.w = scriptNumber(a[2]), d.h = scriptNumber(a[3]);
      }
      dialogs.push_back({first, d});
      continue;
    }
    if (dialogs.empty()) continue;
    Dialog& d = dialogs.back().dialog;
    const std::string rest = line.substr(std::min(line.find(first) + first.size(), line.size()));
    const std::vector<std::string> a = arguments(rest);
    if (first == "STYLE") {
      d.style = static_cast<u32>(scriptNumber(a[0]));
    } else if (first == "CAPTION") {
      d.caption = scriptText(a[0]);
    } else if (first == "FONT" && a.size() == 2) {
      d.pointSize = static_cast<u16>(scriptNumber(a[0]));
      d.face = scriptText(a[1]);
    } else if (first == "CONTROL") {
      EXPECT_EQ(a.size(), 8u) << line;
      if (a.size() != 8) continue;
      d.controls.push_back({static_cast<u16>(scriptNumber(a[1])), scriptText(a[2]),
                            scriptText(a[0]), scriptNumber(a[4]), scriptNumber(a[5]),
                            scriptNumber(a[6]), scriptNumber(a[7]),
                            static_cast<u32>(scriptNumber(a[3]))});
    } else if (!first.empty() && first != "BEGIN" && first != "END" && first.rfind("//", 0) != 0) {
      ADD_FAILURE() << "a statement this reader does not know: " << line;
    }
  }
  return dialogs;
}

constexpr u16 NONE = 0xFFFF;  // id -1
const char16_t* const B = u"Button";

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
  return a.id == b.id && sameClass(a.cls, b.cls) && a.text == b.text && a.x == b.x && a.y == b.y &&
         a.w == b.w && a.h == b.h && a.style == b.style;
}

// The templates in vardelo.exe hold what the resource script says, texts, positions and styles
// alike, in plain templates with the face and size the layouts are made for.
TEST(DialogTemplates, EveryDialogAndControlAsInTheResourceScript) {
  ASSERT_NE(resourceModule(), nullptr) << "vardelo.exe not found beside the tests folder";
  const std::vector<ScriptDialog> script = scriptDialogs();
  std::vector<std::string> names;
  for (const ScriptDialog& s : script) names.push_back(s.name);
  ASSERT_EQ(names, (std::vector<std::string>{"IDD_DIALOG1", "IDD_CHILD1", "IDD_CHILD2",
                                             "IDD_CHILD3", "IDD_CHILD4"}));
  EXPECT_EQ(narrow(script[0].dialog.caption), VARDELO_CAPTION);
  for (const ScriptDialog& s : script) {
    SCOPED_TRACE(s.name);
    const Dialog& e = s.dialog;
    const std::wstring name(s.name.begin(), s.name.end());
    const u8* bytes = templateBytes(name.c_str());
    ASSERT_NE(bytes, nullptr) << "no Russian-language dialog resource " << s.name;
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
  HRSRC group =
      FindResourceW(resourceModule(), L"MYICON", reinterpret_cast<LPCWSTR>(RT_GROUP_ICON));
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
  HRSRC image =
      FindResourceW(resourceModule(), MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_ICON));
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
    bench.machine.hInstance = resourceModule();
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
  HWND page(u32 i) const { return static_cast<HWND>(bench.window.hPages[i].load()); }
  HWND tab() const { return static_cast<HWND>(bench.window.hTab.load()); }
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
  LRESULT command(HWND window, WPARAM wParam) {
    return SendMessageW(window, WM_COMMAND, wParam, 0);
  }
  void selectTab(i32 index) { SendMessageW(tab(), TCM_SETCURSEL, index, 0); }

  HWND dialog = nullptr;
};

TEST_F(MainDialog, CreatesTabsAndPagesOnlyTheCachePageVisible) {
  EXPECT_EQ(bench.window.hMainDlg.load(), dialog);
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
  EXPECT_EQ(bench.window.curPage.load(), 0u);
  EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_EQ(narrow(text(dialog)), VARDELO_CAPTION);
}

// Every number the code addresses a page's control by names a control of that page's template,
// of the class the code treats it as: a number that drifted from the template would send its
// text nowhere, or its clicks to nothing.
TEST_F(MainDialog, EveryNamedControlIsOnItsPage) {
  const char* const S = "Static";
  const struct {
    u32 page, id;
    const char* cls;
  } named[] = {
      {PAGE_CACHE, FIELD_ICACHE_SIZE, S},       {PAGE_CACHE, FIELD_DCACHE_SIZE, S},
      {PAGE_CACHE, FIELD_L2_SIZE, S},           {PAGE_CACHE, FIELD_MEMORY_SIZE, S},
      {PAGE_CACHE, FIELD_L3_SIZE, S},           {PAGE_CACHE, FIELD_L3_SPEED, S},
      {PAGE_CACHE, FIELD_ICACHE_SPEED, S},      {PAGE_CACHE, FIELD_DCACHE_SPEED, S},
      {PAGE_CACHE, FIELD_L2_SPEED, S},          {PAGE_CACHE, FIELD_RAM_SPEED, S},
      {PAGE_CACHE, FIELD_L2_LINE, S},           {PAGE_CACHE, FIELD_RAM_LINE, S},
      {PAGE_CACHE, FIELD_FILL_MODE, S},         {PAGE_CACHE, FIELD_FILL_LABEL, S},
      {PAGE_CACHE, ID_CACHE_RESTART, "Button"}, {PAGE_READ, ID_READ_RESTART, "Button"},
      {PAGE_READ, ID_READ_FILTER, "Button"},    {PAGE_WRITE, ID_WRITE_RESTART, "Button"},
      {PAGE_WRITE, ID_WRITE_FILTER, "Button"},  {PAGE_ABOUT, ID_ABOUT_CLOSE, "Button"},
      {PAGE_ABOUT, ID_ABOUT_HOME, "Button"},    {PAGE_ABOUT, ID_ABOUT_MAIL, "Button"},
  };
  auto classOf = [&](u32 p, u32 id) {
    HWND control = GetDlgItem(page(p), static_cast<int>(id));
    wchar_t cls[64] = L"(none)";
    if (control != nullptr) GetClassNameW(control, cls, 64);
    return narrow(toU16(cls));
  };
  for (const auto& n : named) {
    EXPECT_EQ(classOf(n.page, n.id), n.cls) << "page " << n.page << ", control " << n.id;
  }
  EXPECT_EQ(GetDlgItem(page(PAGE_CACHE), static_cast<int>(ID_TAB_CONTROL)), nullptr);
  // The L3 column: greyed until a cache paint finds an L3, then its header, size and speed cells
  // show, until a paint finds none again; its line and mode cells stay greyed.
  HWND header = nullptr;
  for (HWND c = GetWindow(page(PAGE_CACHE), GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    wchar_t text[8] = {};
    GetWindowTextW(c, text, 8);
    if (std::wstring(text) == L"L3") header = c;
  }
  ASSERT_NE(header, nullptr);
  auto column = [&] {
    std::string shown;
    for (HWND c : {header, GetDlgItem(page(PAGE_CACHE), static_cast<int>(FIELD_L3_SIZE)),
                   GetDlgItem(page(PAGE_CACHE), static_cast<int>(FIELD_L3_SPEED)),
                   GetDlgItem(page(PAGE_CACHE), 123), GetDlgItem(page(PAGE_CACHE), 133)})
      shown += IsWindowEnabled(c) ? '1' : '0';
    return shown;
  };
  EXPECT_EQ(column(), "00000");
  CacheFigures figures{};
  figures.l3Size = figure(32u << 20, FigureSource::Latency);
  for (const auto& [l3, want] : {std::pair{true, "11100"}, std::pair{false, "00000"}}) {
    bench.results.cacheFigures.store(l3 ? figures : CacheFigures{});
    paintCacheChart();
    EXPECT_EQ(column(), want) << (l3 ? "with" : "without") << " an L3";
  }
  // The statistics: five columns per block size, and the combined figure.
  for (const u32 p : {PAGE_READ, PAGE_WRITE}) {
    const u32 base = p == PAGE_READ ? READ_FIELDS_BASE : WRITE_FIELDS_BASE;
    for (u32 id = base; id < base + 10 * RAM_BLOCK_KINDS; id += id % 10 == 4 ? 6 : 1) {
      EXPECT_EQ(classOf(p, id), S) << "page " << p << ", field " << id;
    }
    EXPECT_EQ(classOf(p, base + COMBINED_FIELD_OFFSET), S) << "page " << p;
  }
}

// The controls as created: in template order, with the class, id and text of the template. The
// Cyrillic texts arrive intact only when the dialogs are created with the wide calls.
TEST_F(MainDialog, PagesHoldTheTemplatesControls) {
  const std::vector<ScriptDialog> script = scriptDialogs();
  ASSERT_EQ(script.size(), PAGE_COUNT + 1);
  for (u32 i = 0; i < PAGE_COUNT; ++i) {
    SCOPED_TRACE("page " + std::to_string(i));
    const std::vector<Control>& controls = script[i + 1].dialog.controls;
    HWND child = GetWindow(page(i), GW_CHILD);
    for (std::size_t k = 0; k < controls.size(); ++k, child = GetWindow(child, GW_HWNDNEXT)) {
      ASSERT_NE(child, nullptr) << "control " << k << " missing";
      wchar_t cls[64];
      GetClassNameW(child, cls, 64);
      // Positions are the template's: the window has them in pixels.
      Control got{static_cast<u16>(GetDlgCtrlID(child)),
                  toU16(cls),
                  text(child),
                  controls[k].x,
                  controls[k].y,
                  controls[k].w,
                  controls[k].h,
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
          << "x" << needed.bottom << " in " << box.right << "x" << box.bottom << " (" << faceOf(c)
          << ")";
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
    const u32 redrawsBefore =
        bench.protocol.cacheRedraw + bench.protocol.readRedraw + bench.protocol.writeRedraw;
    selectTab(s.tab);
    if (s.byNotification) {
      NMHDR header{tab(), ID_TAB_CONTROL, static_cast<UINT>(TCN_SELCHANGE)};
      SendMessageW(dialog, WM_NOTIFY, ID_TAB_CONTROL, reinterpret_cast<LPARAM>(&header));
    } else {
      SendMessageW(dialog, UM_SHOW_TAB, 0, 0);
    }
    EXPECT_EQ(bench.window.curPage.load(), static_cast<u32>(s.tab));
    EXPECT_EQ(visiblePages(), s.visible);
    EXPECT_EQ(takePosted(), s.posted);
    EXPECT_EQ(bench.protocol.cacheRedraw + bench.protocol.readRedraw + bench.protocol.writeRedraw -
                  redrawsBefore,
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
      {0, UM_PAINT_READ, 1, 1},  {1, UM_PAINT_READ, 0, 1},  {1, UM_PAINT_WRITE, 1, 1},
      {2, UM_PAINT_WRITE, 1, 0}, {3, UM_PAINT_WRITE, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("tab " + std::to_string(c.tab) + " message " + std::to_string(c.message));
    selectTab(c.tab);
    SendMessageW(dialog, UM_SHOW_TAB, 0, 0);
    takePosted();
    bench.protocol.readPosted = 1, bench.protocol.writePosted = 1;
    EXPECT_EQ(SendMessageW(dialog, c.message, 0, 0), 0);
    EXPECT_EQ(bench.protocol.readPosted.load(), c.readPosted);
    EXPECT_EQ(bench.protocol.writePosted.load(), c.writePosted);
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
  bench.protocol.cacheRestart = 0, bench.protocol.ramRestart = 0;
  command(page(PAGE_CACHE), ID_CACHE_RESTART);
  command(page(PAGE_READ), ID_READ_RESTART);
  command(page(PAGE_WRITE), ID_WRITE_RESTART);
  command(page(PAGE_WRITE), ID_WRITE_RESTART);
  EXPECT_EQ(bench.protocol.cacheRestart.load(), 1);
  EXPECT_EQ(bench.protocol.ramRestart.load(), 3);
  EXPECT_EQ((std::vector<u32>{bench.protocol.cacheDirty, bench.protocol.readDirty,
                              bench.protocol.writeDirty}),
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

  bench.protocol.ramRestart = 5;
  bench.protocol.readDirty = 0x1234567;
  ask(SNAPSHOT_BENCH);
  ASSERT_EQ(received.count, 1);
  EXPECT_EQ(received.tag, ULONG_PTR{SNAPSHOT_BENCH});
  ASSERT_EQ(received.bytes.size(), sizeof bench);
  EXPECT_EQ(received.bytes[offsetof(BenchState, protocol.ramRestart)], 5);
  u32 dirty = 0;
  std::memcpy(&dirty, &received.bytes[offsetof(BenchState, protocol.readDirty)], sizeof dirty);
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
  EXPECT_EQ(bench.protocol.writeDirty.load(), 0u);  // same ids as the write page's buttons
  EXPECT_EQ(bench.window.writeFilter.load(), 4);
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
  bench.machine.hCacheThread = workers[0], bench.machine.hRamThread = workers[1];
  const struct {
    u8 on;
    DWORD processClass;
    int priority;
  } steps[] = {{1, REALTIME_PRIORITY_CLASS, THREAD_PRIORITY_TIME_CRITICAL},
               {0, NORMAL_PRIORITY_CLASS, THREAD_PRIORITY_NORMAL}};
  for (const auto& s : steps) {
    SCOPED_TRACE("switch to " + std::to_string(s.on));
    EXPECT_EQ(command(dialog, CMD_REALTIME), 0);
    EXPECT_EQ(bench.window.realtimeOn.load(), s.on);
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
  bench.machine.hCacheThread = nullptr, bench.machine.hRamThread = nullptr;
}

}  // namespace
}  // namespace vardelo
