#include "ui/dialog_font_win.h"

#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "ui/dialog_font.h"

namespace vardelo {
namespace {

// The template as stored, or a copy with the Unicode dialog face; kept for the life of the
// process, as dialogs may be created from it again.
const void* templateFor(HINSTANCE module, const wchar_t* name) {
  HRSRC found = FindResourceW(module, name, reinterpret_cast<LPCWSTR>(RT_DIALOG));
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const auto* bytes = loaded ? static_cast<const std::uint8_t*>(LockResource(loaded)) : nullptr;
  if (bytes == nullptr || templateFaceShowsCyrillic()) return bytes;
  static std::map<std::wstring, std::vector<std::uint8_t>> copies;
  std::vector<std::uint8_t>& copy = copies[name];
  if (copy.empty()) {
    copy = withDialogFace(bytes, SizeofResource(module, found), UNICODE_DIALOG_FACE);
  }
  return copy.empty() ? bytes : copy.data();
}

// A font as the dialog manager creates one for a template: the face at `points`, the system's
// character set.
HFONT createDialogFont(HDC screen, const char16_t* face, int points) {
  return CreateFontW(-MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL,
                     FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                     reinterpret_cast<const wchar_t*>(face));
}

}  // namespace

bool templateFaceShowsCyrillic() {
  static const bool shows = [] {
    HDC screen = GetDC(nullptr);
    HFONT font = createDialogFont(screen, TEMPLATE_FACE, TEMPLATE_FACE_POINTS);
    HGDIOBJ previous = SelectObject(screen, font);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(screen, LF_FACESIZE, face);
    const int charset = GetTextCharset(screen);
    SelectObject(screen, previous);
    DeleteObject(font);
    ReleaseDC(nullptr, screen);
    return charset == RUSSIAN_CHARSET &&
           std::wcscmp(face, reinterpret_cast<const wchar_t*>(TEMPLATE_FACE)) == 0;
  }();
  return shows;
}

void fitStaticTexts(HWND dialog) {
  static HFONT small = nullptr;  // lives as long as the pages that use it
  for (HWND control = GetWindow(dialog, GW_CHILD); control != nullptr;
       control = GetWindow(control, GW_HWNDNEXT)) {
    wchar_t cls[16] = {}, text[128] = {};
    GetClassNameW(control, cls, 16);
    if (lstrcmpiW(cls, L"Static") != 0 || GetWindowTextW(control, text, 128) == 0) continue;
    RECT room{}, needed{};
    GetClientRect(control, &room);
    needed.right = room.right;
    HDC dc = GetDC(control);
    const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    HGDIOBJ previous = SelectObject(dc, font);
    DrawTextW(dc, text, -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    if (needed.bottom <= room.bottom && needed.right <= room.right) continue;
    if (small == nullptr) {
      HDC screen = GetDC(nullptr);
      small = createDialogFont(screen, SMALL_FACE, SMALL_FACE_POINTS);
      ReleaseDC(nullptr, screen);
    }
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(small), FALSE);
  }
}

HWND createDialogWithFace(HINSTANCE module, const wchar_t* name, HWND parent, DLGPROC procedure) {
  const void* t = templateFor(module, name);
  return t ? CreateDialogIndirectParamW(module, static_cast<LPCDLGTEMPLATEW>(t), parent,
                                        procedure, 0)
           : nullptr;
}

INT_PTR runDialogWithFace(HINSTANCE module, const wchar_t* name, HWND parent, DLGPROC procedure) {
  const void* t = templateFor(module, name);
  return t ? DialogBoxIndirectParamW(module, static_cast<LPCDLGTEMPLATEW>(t), parent, procedure,
                                     0)
           : -1;
}

}  // namespace vardelo
