// Dialogs created from their templates with the face this system shows them best in.
#pragma once

#include <windows.h>

namespace vardelo {

// True when the system's "MS Sans Serif", as a dialog would get it, has Cyrillic cells.
bool templateFaceShowsCyrillic();

// The same as CreateDialogParamW and DialogBoxParamW, but the template names "MS Shell Dlg"
// instead of its own face where that face cannot show the Cyrillic texts.
HWND createDialogWithFace(HINSTANCE module, const wchar_t* name, HWND parent, DLGPROC procedure);
INT_PTR runDialogWithFace(HINSTANCE module, const wchar_t* name, HWND parent, DLGPROC procedure);

// Gives each static text of `dialog` that its box cannot hold whole in the dialog's font the
// smaller face instead (a font's cells differ from system to system; the boxes do not).
void fitStaticTexts(HWND dialog);

}  // namespace vardelo
