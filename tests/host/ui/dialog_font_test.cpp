#include "ui/dialog_font.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vardelo {
namespace {

// Little-endian template bytes, built field by field.
struct Bytes {
  std::vector<std::uint8_t> b;
  void word(std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void dword(std::uint32_t v) {
    word(static_cast<std::uint16_t>(v));
    word(static_cast<std::uint16_t>(v >> 16));
  }
  void text(const std::u16string& s) {
    for (char16_t c : s) word(c);
    word(0);
  }
  void align() {
    while (b.size() % 4) b.push_back(0);
  }
};

// A dialog with `face` and two static controls, the way the resource compiler lays it out.
std::vector<std::uint8_t> dialog(const std::u16string& face, std::uint32_t style = 0x80CA00C0) {
  Bytes t;
  t.dword(style);
  t.dword(0);
  t.word(2);
  for (std::uint16_t v : {52, 24, 263, 244}) t.word(v);
  t.word(0);  // no menu
  t.word(0);  // the dialog class
  t.text(u"Caption");
  t.word(8);
  t.text(face);
  for (std::uint16_t id : {100, 1011}) {
    t.align();
    t.dword(0x50001001);
    t.dword(0);
    for (std::uint16_t v : {51, 180, 27, 10}) t.word(v);
    t.word(id);
    t.word(0xFFFF);
    t.word(0x0082);
    t.text(id == 100 ? u"\u0440\u0430\u0437\u043C\u0435\u0440" : u"L2");
    t.word(0);  // no creation data
  }
  return t.b;
}

// The controls' block: from the first 4-byte boundary after the face to the end.
std::vector<std::uint8_t> controls(const std::vector<std::uint8_t>& t, const std::u16string& face) {
  const std::size_t faceEnd = 18 + 2 + 2 + 16 + 2 + 2 * (face.size() + 1);
  return {t.begin() + ((faceEnd + 3) & ~std::size_t{3}), t.end()};
}

TEST(DialogFace, ReadsTheFaceOfAPlainTemplateWithAFont) {
  const auto t = dialog(u"MS Sans Serif");
  EXPECT_EQ(dialogFace(t.data(), t.size()), u"MS Sans Serif");
}

TEST(DialogFace, AnotherFaceKeepsEverythingElseAndTheControlsAligned) {
  // Faces of both parities of length move the controls by 0 or 2 bytes before alignment.
  for (const std::u16string face : {u"MS Shell Dlg", u"Tahoma", u"A"}) {
    SCOPED_TRACE(std::string(face.begin(), face.end()));
    const auto original = dialog(u"MS Sans Serif");
    const auto copy = withDialogFace(original.data(), original.size(), face);
    ASSERT_FALSE(copy.empty());
    EXPECT_EQ(dialogFace(copy.data(), copy.size()), face);
    // Header, menu, class, caption and point size unchanged.
    EXPECT_EQ(std::vector<std::uint8_t>(copy.begin(), copy.begin() + 40),
              std::vector<std::uint8_t>(original.begin(), original.begin() + 40));
    EXPECT_EQ(controls(copy, face), controls(original, u"MS Sans Serif"));
    EXPECT_EQ(copy.size() % 4, original.size() % 4);
  }
}

TEST(DialogFace, RefusesWhatIsNotAPlainTemplateWithAFont) {
  const auto noFont = dialog(u"MS Sans Serif", 0x80CA0080);  // DS_SETFONT clear
  EXPECT_TRUE(dialogFace(noFont.data(), noFont.size()).empty());
  EXPECT_TRUE(withDialogFace(noFont.data(), noFont.size(), u"X").empty());

  auto extended = dialog(u"MS Sans Serif");
  extended[0] = 1, extended[1] = 0, extended[2] = 0xFF, extended[3] = 0xFF;
  EXPECT_TRUE(withDialogFace(extended.data(), extended.size(), u"X").empty());

  // Cut inside the caption or inside the face: nothing is read past the end.
  const auto t = dialog(u"MS Sans Serif");
  for (std::size_t size : {std::size_t{0}, std::size_t{17}, std::size_t{30}, std::size_t{50}}) {
    EXPECT_TRUE(withDialogFace(t.data(), size, u"X").empty()) << size;
  }
  EXPECT_TRUE(dialogFace(nullptr, 100).empty());
}

}  // namespace
}  // namespace vardelo
