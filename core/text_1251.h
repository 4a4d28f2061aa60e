// The program's 8-bit texts are code page 1251. The window shows them through the wide calls
// after an explicit conversion, so they read the same whatever the system's ANSI code page is;
// through the ANSI calls a system with another code page would show "фильтр" as "ôèëüòð".
#pragma once

#include <cstddef>

namespace vardelo {

// The UTF-16 code unit of one code-page-1251 byte. The one byte the code page leaves undefined,
// 0x98, maps to U+0098, as the system's own conversion does.
char16_t charFrom1251(unsigned char byte);

// Converts at most `length` bytes of `text` (fewer when a NUL comes first) into `out`, which
// holds `cap` code units including the terminating NUL; a longer text is cut. Returns the number
// of code units written before the NUL.
std::size_t toUtf16From1251(const char* text, std::size_t length, char16_t* out, std::size_t cap);

// The same for a whole NUL-terminated text.
std::size_t toUtf16From1251(const char* text, char16_t* out, std::size_t cap);

#ifdef _WIN32
// The forms for the wide window calls, whose characters are 16-bit wchar_t on Windows.
static_assert(sizeof(wchar_t) == sizeof(char16_t));
inline std::size_t toUtf16From1251(const char* text, wchar_t* out, std::size_t cap) {
  return toUtf16From1251(text, reinterpret_cast<char16_t*>(out), cap);
}
inline std::size_t toUtf16From1251(const char* text, std::size_t length, wchar_t* out,
                                   std::size_t cap) {
  return toUtf16From1251(text, length, reinterpret_cast<char16_t*>(out), cap);
}
#endif

}  // namespace vardelo
