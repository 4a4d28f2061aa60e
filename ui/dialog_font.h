// The face a dialog template names, and a copy of the template with another face.
//
// The templates name the bitmap "MS Sans Serif", the font whose cells (6 x 13 pixels at 8 points)
// the layouts and the charts' pixel positions were made for. Where that font cannot show the
// templates' Cyrillic texts (a system whose "MS Sans Serif" has no Cyrillic cells), the dialogs
// are created from a copy that names "MS Shell Dlg", which the system maps to its Unicode dialog
// font.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vardelo {

inline constexpr char16_t TEMPLATE_FACE[] = u"MS Sans Serif";
inline constexpr int TEMPLATE_FACE_POINTS = 8;
inline constexpr char16_t UNICODE_DIALOG_FACE[] = u"MS Shell Dlg";
// The face and size for a label its box cannot hold in the dialog's font.
inline constexpr char16_t SMALL_FACE[] = u"Small Fonts";
inline constexpr int SMALL_FACE_POINTS = 7;

// The face of a plain (not extended) dialog template with a font, or an empty string when the
// bytes are not such a template or end early.
std::u16string dialogFace(const std::uint8_t* bytes, std::size_t size);

// A copy of a plain dialog template with its face replaced by `face`; its controls keep their
// bytes and their 4-byte alignment. Empty when the bytes are not a plain template with a font.
std::vector<std::uint8_t> withDialogFace(const std::uint8_t* bytes, std::size_t size,
                                         const std::u16string& face);

}  // namespace vardelo
