#include "ui/dialog_font.h"

#include <algorithm>
#include <cstring>

namespace vardelo {
namespace {

constexpr std::uint32_t DS_SETFONT_BIT = 0x40;
constexpr std::size_t HEADER_BYTES = 18;  // style, extended style, count, x, y, cx, cy

// Where the face starts and ends in a template; ok false when the bytes are not a plain
// template with a font.
struct FaceSpan {
  bool ok = false;
  std::size_t faceStart = 0;  // first byte of the face's text
  std::size_t faceEnd = 0;    // just past its terminating zero
};

class Reader {
 public:
  Reader(const std::uint8_t* bytes, std::size_t size, std::size_t at)
      : bytes_(bytes), size_(size), at_(at) {}
  bool word(std::uint16_t* out) {
    if (at_ + 2 > size_) return false;
    std::memcpy(out, bytes_ + at_, 2);
    at_ += 2;
    return true;
  }
  // A zero-terminated string of 16-bit characters.
  bool text() {
    for (std::uint16_t c = 1; c != 0;) {
      if (!word(&c)) return false;
    }
    return true;
  }
  // Nothing (0), an ordinal (0xFFFF and a number) or a string.
  bool nameOrOrdinal() {
    std::uint16_t first;
    if (!word(&first)) return false;
    if (first == 0) return true;
    if (first == 0xFFFF) return word(&first);
    return text();
  }
  std::size_t at() const { return at_; }

 private:
  const std::uint8_t* bytes_;
  std::size_t size_;
  std::size_t at_;
};

FaceSpan findFace(const std::uint8_t* bytes, std::size_t size) {
  FaceSpan span;
  if (bytes == nullptr || size < HEADER_BYTES) return span;
  std::uint32_t style;
  std::memcpy(&style, bytes, 4);
  std::uint16_t version[2];
  std::memcpy(version, bytes, 4);
  if (version[0] == 1 && version[1] == 0xFFFF) return span;  // an extended template
  if ((style & DS_SETFONT_BIT) == 0) return span;
  Reader r(bytes, size, HEADER_BYTES);
  std::uint16_t points;
  if (!r.nameOrOrdinal() || !r.nameOrOrdinal() || !r.text() || !r.word(&points)) return span;
  span.faceStart = r.at();
  if (!r.text()) return span;
  span.faceEnd = r.at();
  span.ok = true;
  return span;
}

std::size_t alignedTo4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

}  // namespace

std::u16string dialogFace(const std::uint8_t* bytes, std::size_t size) {
  const FaceSpan span = findFace(bytes, size);
  std::u16string face;
  if (!span.ok) return face;
  for (std::size_t i = span.faceStart; i + 2 < span.faceEnd; i += 2) {
    std::uint16_t c;
    std::memcpy(&c, bytes + i, 2);
    face += static_cast<char16_t>(c);
  }
  return face;
}

std::vector<std::uint8_t> withDialogFace(const std::uint8_t* bytes, std::size_t size,
                                         const std::u16string& face) {
  const FaceSpan span = findFace(bytes, size);
  std::vector<std::uint8_t> out;
  if (!span.ok) return out;
  out.assign(bytes, bytes + span.faceStart);
  for (char16_t c : face) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  // The controls start on the next 4-byte boundary and keep their alignment when moved as one
  // block from one boundary to another.
  const std::size_t controls = std::min(alignedTo4(span.faceEnd), size);
  out.resize(alignedTo4(out.size()), 0);
  out.insert(out.end(), bytes + controls, bytes + size);
  return out;
}

}  // namespace vardelo
