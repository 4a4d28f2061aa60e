#include "kernels/fetch_code.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace vardelo {
namespace {

std::string hex(const u8* bytes, size_t count) {
  std::string text;
  char byte[4];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
    text += byte;
  }
  return text;
}

// The fetch loop exactly as large as it should be, so that a write past its end trips the
// address sanitizer.
std::vector<u8> fetchLoop(u32 size, u16 code) {
  std::vector<u8> loop(fetchCodeBytes(size));
  buildFetchCode(loop.data(), size, code);
  return loop;
}

constexpr u8 HEAD[] = {
    0x8D, 0x44, 0x0B, 0x00,  // lea eax, [ebx+ecx+0]
    0x8D, 0x44, 0x0B, 0x00,  // lea eax, [ebx+ecx+0]
    0x8D, 0x44, 0x0B, 0x00,  // lea eax, [ebx+ecx+0]
    0x0F, 0x31,              // rdtsc
    0x8B, 0xD8,              // mov ebx, eax
};
static_assert(sizeof HEAD == 16);

constexpr u8 TAIL_64[] = {
    0x90,                          // nop
    0x49,                          // dec ecx
    0x0F, 0x85, 0xB8, 0xFF, 0xFF, 0xFF,  // jnz -72 (0xFFFFFFB8): back to offset 16
    0x0F, 0x31,                    // rdtsc
    0xC3,                          // ret
    0xC3,                          // ret (never reached)
};
constexpr u8 TAIL_2048[] = {
    0x90,                          // nop
    0x49,                          // dec ecx
    0x0F, 0x85, 0xF8, 0xF7, 0xFF, 0xFF,  // jnz -2056 (0xFFFFF7F8): back to offset 16
    0x0F, 0x31,                    // rdtsc
    0xC3,                          // ret
    0xC3,                          // ret (never reached)
};
// The smallest size of the sweep: 72 fillers, not a power of two.
constexpr u8 TAIL_4608[] = {
    0x90,                          // nop
    0x49,                          // dec ecx
    0x0F, 0x85, 0xF8, 0xED, 0xFF, 0xFF,  // jnz -4616 (0xFFFFEDF8): back to offset 16
    0x0F, 0x31,                    // rdtsc
    0xC3,                          // ret
    0xC3,                          // ret (never reached)
};
static_assert(sizeof TAIL_64 == 12 && sizeof TAIL_2048 == 12 && sizeof TAIL_4608 == 12);

// Fields 5, A, 3, B: 30 bytes twice, then field 5 again and the prefix of field A, whose 12-byte
// entry no longer fits; the prefix stays, in front of the 1-byte padding.
constexpr u8 FILLER_B3A5[] = {
    0x8B, 0xF7,                                // mov esi, edi
    0xF3, 0xC7, 0xC0, 0x00, 0x00, 0x00, 0x00,  // rep mov eax, 0
    0xC7, 0xC2, 0x00, 0x00, 0x00, 0x00,        //     mov edx, 0
    0x8D, 0xB4, 0x08, 0x00, 0x00, 0x00, 0x00,  // lea esi, [eax+ecx+0]
    0xF3, 0x8D, 0xB4, 0x08, 0x00, 0x00, 0x00, 0x00,  // rep lea esi, [eax+ecx+0]
    0x8B, 0xF7,                                // mov esi, edi
    0xF3, 0xC7, 0xC0, 0x00, 0x00, 0x00, 0x00,  // rep mov eax, 0
    0xC7, 0xC2, 0x00, 0x00, 0x00, 0x00,        //     mov edx, 0
    0x8D, 0xB4, 0x08, 0x00, 0x00, 0x00, 0x00,  // lea esi, [eax+ecx+0]
    0xF3, 0x8D, 0xB4, 0x08, 0x00, 0x00, 0x00, 0x00,  // rep lea esi, [eax+ecx+0]
    0x8B, 0xF7,                                // mov esi, edi
    0xF3, 0x90,                                // rep nop (prefix of field A, then padding)
};

#define MOV_EAX_EDX_LONG 0xC7, 0xC0, 0x00, 0x00, 0x00, 0x00, 0xC7, 0xC2, 0x00, 0x00, 0x00, 0x00
constexpr u8 FILLER_0002[] = {
    MOV_EAX_EDX_LONG,        // mov eax, 0; mov edx, 0 (C7 /0 imm32)
    MOV_EAX_EDX_LONG,        // mov eax, 0; mov edx, 0
    MOV_EAX_EDX_LONG,        // mov eax, 0; mov edx, 0
    MOV_EAX_EDX_LONG,        // mov eax, 0; mov edx, 0
    MOV_EAX_EDX_LONG,        // mov eax, 0; mov edx, 0
    0x8D, 0x44, 0x20, 0x00,  // lea eax, [eax+0]
};
#undef MOV_EAX_EDX_LONG

#define REP_NOP_X4 0xF3, 0x90, 0xF3, 0x90, 0xF3, 0x90, 0xF3, 0x90
constexpr u8 FILLER_000F[] = {
    REP_NOP_X4, REP_NOP_X4,  // rep nop (pause) x 8
    REP_NOP_X4, REP_NOP_X4,  // rep nop x 8
    REP_NOP_X4, REP_NOP_X4,  // rep nop x 8
    REP_NOP_X4, REP_NOP_X4,  // rep nop x 8
};
#undef REP_NOP_X4

#define LEA_ESI 0x8D, 0xB4, 0x08, 0x00, 0x00, 0x00, 0x00
constexpr u8 FILLER_0003[] = {
    LEA_ESI, LEA_ESI, LEA_ESI,  // lea esi, [eax+ecx+0] (disp32) x 3
    LEA_ESI, LEA_ESI, LEA_ESI,  // lea esi, [eax+ecx+0] x 3
    LEA_ESI, LEA_ESI, LEA_ESI,  // lea esi, [eax+ecx+0] x 3
    0x90,                       // nop
};
#undef LEA_ESI

#define MOV_EAX_SHORT 0xB8, 0x00, 0x00, 0x00, 0x00
constexpr u8 FILLER_0006[] = {
    MOV_EAX_SHORT, MOV_EAX_SHORT, MOV_EAX_SHORT, MOV_EAX_SHORT,  // mov eax, 0 (B8 imm32) x 4
    MOV_EAX_SHORT, MOV_EAX_SHORT, MOV_EAX_SHORT, MOV_EAX_SHORT,  // mov eax, 0 x 4
    MOV_EAX_SHORT, MOV_EAX_SHORT, MOV_EAX_SHORT, MOV_EAX_SHORT,  // mov eax, 0 x 4
    0x8D, 0x44, 0x20, 0x00,                                      // lea eax, [eax+0]
};
#undef MOV_EAX_SHORT

#define NOP_X8 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90
constexpr u8 FILLER_0007[] = {
    NOP_X8, NOP_X8, NOP_X8, NOP_X8,  // nop x 32
    NOP_X8, NOP_X8, NOP_X8, NOP_X8,  // nop x 32
};
#undef NOP_X8

// Fields 1, 6: 11 bytes five times, one more 6-byte entry, and 3 bytes left for the 5-byte one.
#define MOV_EAX_LONG_THEN_SHORT 0xC7, 0xC0, 0x00, 0x00, 0x00, 0x00, 0xB8, 0x00, 0x00, 0x00, 0x00
constexpr u8 FILLER_0061[] = {
    MOV_EAX_LONG_THEN_SHORT,             // mov eax, 0 (C7 /0); mov eax, 0 (B8)
    MOV_EAX_LONG_THEN_SHORT,             // mov eax, 0; mov eax, 0
    MOV_EAX_LONG_THEN_SHORT,             // mov eax, 0; mov eax, 0
    MOV_EAX_LONG_THEN_SHORT,             // mov eax, 0; mov eax, 0
    MOV_EAX_LONG_THEN_SHORT,             // mov eax, 0; mov eax, 0
    0xC7, 0xC0, 0x00, 0x00, 0x00, 0x00,  // mov eax, 0 (C7 /0)
    0x8D, 0x04, 0x20,                    // lea eax, [eax]
};
#undef MOV_EAX_LONG_THEN_SHORT

// Fields 1, 3: 13 bytes four times, one more 6-byte entry, and 6 bytes left for the 7-byte one.
#define MOV_EAX_THEN_LEA_ESI \
  0xC7, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x8D, 0xB4, 0x08, 0x00, 0x00, 0x00, 0x00
constexpr u8 FILLER_0031[] = {
    MOV_EAX_THEN_LEA_ESI,                // mov eax, 0 (C7 /0); lea esi, [eax+ecx+0]
    MOV_EAX_THEN_LEA_ESI,                // mov eax, 0; lea esi, [eax+ecx+0]
    MOV_EAX_THEN_LEA_ESI,                // mov eax, 0; lea esi, [eax+ecx+0]
    MOV_EAX_THEN_LEA_ESI,                // mov eax, 0; lea esi, [eax+ecx+0]
    0xC7, 0xC0, 0x00, 0x00, 0x00, 0x00,  // mov eax, 0 (C7 /0)
    0x8D, 0x44, 0x20, 0x00,              // lea eax, [eax+0]
    0x8B, 0xC2,                          // mov eax, edx
};
#undef MOV_EAX_THEN_LEA_ESI

// Fields 4, E: 14 bytes four times, then the 8-byte entry fits the 8 bytes left exactly.
#define DS_LEA_THEN_REP_MOV \
  0x3E, 0x8D, 0xB4, 0x08, 0x00, 0x00, 0x00, 0x00, 0xF3, 0xB8, 0x00, 0x00, 0x00, 0x00
constexpr u8 FILLER_00E4[] = {
    DS_LEA_THEN_REP_MOV,                             // ds: lea esi, [eax+ecx+0]; rep mov eax, 0
    DS_LEA_THEN_REP_MOV,                             // ds: lea esi, [eax+ecx+0]; rep mov eax, 0
    DS_LEA_THEN_REP_MOV,                             // ds: lea esi, [eax+ecx+0]; rep mov eax, 0
    DS_LEA_THEN_REP_MOV,                             // ds: lea esi, [eax+ecx+0]; rep mov eax, 0
    0x3E, 0x8D, 0xB4, 0x08, 0x00, 0x00, 0x00, 0x00,  // ds: lea esi, [eax+ecx+0]
};
#undef DS_LEA_THEN_REP_MOV

static_assert(sizeof FILLER_B3A5 == 64 && sizeof FILLER_0002 == 64 && sizeof FILLER_000F == 64 &&
              sizeof FILLER_0003 == 64 && sizeof FILLER_0006 == 64 && sizeof FILLER_0007 == 64 &&
              sizeof FILLER_0061 == 64 && sizeof FILLER_0031 == 64 && sizeof FILLER_00E4 == 64);

TEST(FetchCode, WorkedExamplesByteForByte) {
  struct Example {
    u16 code;
    const u8* filler;
  } examples[] = {
      {0xB3A5, FILLER_B3A5}, {0x0002, FILLER_0002}, {0x000F, FILLER_000F},
      {0x0003, FILLER_0003}, {0x0006, FILLER_0006}, {0x0007, FILLER_0007},
      {0x0061, FILLER_0061}, {0x0031, FILLER_0031}, {0x00E4, FILLER_00E4},
  };
  struct Size {
    u32 bytes;
    const u8* tail;
  } sizes[] = {{64, TAIL_64}, {2048, TAIL_2048}, {4608, TAIL_4608}};

  for (const Example& e : examples) {
    for (const Size& s : sizes) {
      SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << e.code << std::dec << ", size "
                                      << s.bytes);
      const std::vector<u8> loop = fetchLoop(s.bytes, e.code);
      ASSERT_EQ(loop.size(), 28u + s.bytes);
      EXPECT_EQ(hex(loop.data(), 16), hex(HEAD, 16));
      for (u32 k = 0; k < s.bytes / 64; ++k) {
        EXPECT_EQ(hex(loop.data() + 16 + 64 * k, 64), hex(e.filler, 64)) << "filler " << k;
      }
      EXPECT_EQ(hex(loop.data() + 16 + s.bytes, 12), hex(s.tail, 12));
    }
  }
}

// The forms the body may consist of, all with zero immediates and displacements: none reads or
// writes memory, and they write only EAX, EDX and ESI.
struct Form {
  u8 length;
  u8 bytes[7];
};
constexpr Form BODY_FORMS[] = {
    {1, {0x90}},                                      // nop
    {2, {0x8B, 0xF7}},                                // mov esi, edi
    {2, {0x8B, 0xC2}},                                // mov eax, edx
    {3, {0x8D, 0x04, 0x20}},                          // lea eax, [eax]
    {4, {0x8D, 0x44, 0x20, 0x00}},                    // lea eax, [eax+0]
    {5, {0xB8, 0x00, 0x00, 0x00, 0x00}},              // mov eax, 0
    {6, {0xC7, 0xC0, 0x00, 0x00, 0x00, 0x00}},        // mov eax, 0 (long form)
    {6, {0xC7, 0xC2, 0x00, 0x00, 0x00, 0x00}},        // mov edx, 0 (long form)
    {7, {0x8D, 0xB4, 0x08, 0x00, 0x00, 0x00, 0x00}},  // lea esi, [eax+ecx+0]
};

// Decodes the body of `loop` (size `size`) and returns "" or what went wrong. The body must be
// whole instructions of BODY_FORMS with F3 and 3E prefixes; prefixes at its very end belong to
// the tail's nop, which must then be the first tail byte.
std::string decodeBody(const std::vector<u8>& loop, u32 size) {
  const u32 end = 16 + size;
  u32 pos = 16;
  while (pos < end) {
    const u32 start = pos;
    while (pos < end && (loop[pos] == 0xF3 || loop[pos] == 0x3E)) ++pos;
    if (pos == end) break;  // prefixes on the tail's nop
    const Form* match = nullptr;
    for (const Form& f : BODY_FORMS) {
      if (pos + f.length <= loop.size() && std::equal(f.bytes, f.bytes + f.length, &loop[pos])) {
        match = &f;
        break;
      }
    }
    if (match == nullptr) return "unknown instruction at " + std::to_string(pos);
    pos += match->length;
    if (pos > end) return "instruction at " + std::to_string(start) + " runs into the tail";
    if (pos - start > 15) return "instruction at " + std::to_string(start) + " too long";
  }
  if (loop[end] != 0x90) return "tail does not start with nop";
  return "";
}

// Two fillers cover both kinds of boundary: filler to filler and filler to tail.
TEST(FetchCode, EveryAcceptedCodeGivesWholeRegisterOnlyInstructions) {
  int checked = 0;
  std::vector<u8> loop(fetchCodeBytes(128));
  for (u32 code = 0; code <= 0xFFFF; ++code) {
    if (!fillCodeAccepted(static_cast<u16>(code))) continue;
    buildFetchCode(loop.data(), 128, static_cast<u16>(code));
    const std::string fault = decodeBody(loop, 128);
    ASSERT_EQ(fault, "") << "code 0x" << std::hex << code;
    ASSERT_EQ(0, std::memcmp(loop.data(), HEAD, 16)) << "code 0x" << std::hex << code;
    ASSERT_EQ(0, std::memcmp(loop.data() + 16, loop.data() + 80, 64)) << "code 0x" << std::hex
                                                                       << code;
    ++checked;
  }
  EXPECT_EQ(checked, 50624);
}

TEST(FetchCode, CodeZeroStillEndsAsPadding) {
  // Outside the contract, but a generator that waits for code 0 to fill a filler never returns.
  const std::vector<u8> loop = fetchLoop(64, 0);
  EXPECT_EQ(decodeBody(loop, 64), "");
  for (u32 i = 16; i < 80; i += 4) EXPECT_EQ(hex(&loop[i], 4), "8D 44 20 00") << "offset " << i;
}

TEST(FetchCode, AcceptedCodes) {
  int accepted = 0;
  for (u32 code = 0; code <= 0xFFFF; ++code) accepted += fillCodeAccepted(static_cast<u16>(code));
  EXPECT_EQ(accepted, 50624);

  struct Case {
    u16 code;
    bool accepted;
  } cases[] = {
      {0x0000, false}, {0x0008, false}, {0x0080, false}, {0x0800, false}, {0x8000, false},
      {0x1881, false}, {0x8888, false}, {0x0001, true},  {0x000F, true},  {0xFFFF, true},
      {0x000A, true},  {0x0009, true},  {0x9999, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fillCodeAccepted(c.code), c.accepted) << "code 0x" << std::hex << c.code;
  }
}

TEST(FetchCode, PassesBySize) {
  struct Case {
    u32 size, passes;
  } cases[] = {
      {64, 256},      {2048, 256},     {4608, 256},     {131072, 256}, {131073, 225},
      {139810, 225},  {139811, 196},   {262144, 64},    {524288, 16},  {1048576, 4},
      {2097151, 1},   {2097152, 1},    {4063232, 1},    {12582912, 1},
  };
  for (const Case& c : cases) EXPECT_EQ(fetchPasses(c.size), c.passes) << "size " << c.size;
}

TEST(ByteEmitter, DropsWhatDoesNotFit) {
  u8 window[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  ByteEmitter out(window, 5);
  out.emit32(0x11223344);
  out.emit32(0x55667788);  // 4 bytes into 1 byte of room: dropped whole
  EXPECT_EQ(out.size(), 4u);
  out.emit8(0x99);
  EXPECT_EQ(out.size(), 5u);
  EXPECT_EQ(out.room(), 0u);
  out.emit8(0xAA);  // no room left: dropped
  EXPECT_EQ(out.size(), 5u);
  EXPECT_EQ(hex(window, 6), "44 33 22 11 99 EE");
}

}  // namespace
}  // namespace vardelo
