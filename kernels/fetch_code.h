// The fetch loop: x86 machine code written into the test area and executed to time how fast the
// processor fetches and decodes instructions out of a block of a given size.
//
// Layout of the 32-bit loop for a size S (a multiple of 64, at least 64), S + 28 bytes in all:
//   0       8D 44 0B 00 x3      lea eax, [ebx+ecx+0], three times (run once per call, untimed)
//   12      0F 31               rdtsc
//   14      8B D8               mov ebx, eax         start time, low half
//   16      S bytes             the body: S / 64 identical fillers of 64 bytes
//   16+S    90 49               nop; dec ecx
//   18+S    0F 85 <rel32>       jnz back to offset 16 (rel32 = 0xFFFFFFF8 - S)
//   24+S    0F 31 C3 C3         rdtsc; ret (the second ret is never reached)
//
// The 64-bit loop is the same but for its tail: 0x49 is a REX prefix in 64-bit code, so the
// count-down there is the two-byte form, and the loop is S + 29 bytes:
//   16+S    90 FF C9            nop; dec ecx
//   19+S    0F 85 <rel32>       jnz back to offset 16 (rel32 = 0xFFFFFFF7 - S)
//   25+S    0F 31 C3 C3         rdtsc; ret
// The head and every filler decode the same in both modes, as 32-bit register operations.
//
// The body only touches registers: it writes EAX, EDX and ESI, reads EAX, ECX, EDX and EDI, and
// never writes ECX (the pass counter) or EBX (the start time). Platform-free: the bytes can be
// written into any buffer; only running them needs the target (see fetch_kernel.h).
#pragma once

#include <cstring>

#include "core/bench_state.h"

namespace vardelo {

inline constexpr u32 FETCH_HEAD_BYTES = 16;
inline constexpr u32 FETCH_TAIL_BYTES = 12;
inline constexpr u32 FETCH_TAIL_BYTES_64 = 13;
inline constexpr u32 FILLER_BYTES = 64;

// The processor mode a loop is written for; NATIVE_FETCH_MODE is the one this program runs in.
enum class FetchMode : u8 { Bits32, Bits64 };
inline constexpr FetchMode NATIVE_FETCH_MODE =
    sizeof(void*) == 8 ? FetchMode::Bits64 : FetchMode::Bits32;

// Bytes written by buildFetchCode for a body of `size` bytes.
constexpr u32 fetchCodeBytes(u32 size, FetchMode mode = FetchMode::Bits32) {
  return FETCH_HEAD_BYTES + size +
         (mode == FetchMode::Bits64 ? FETCH_TAIL_BYTES_64 : FETCH_TAIL_BYTES);
}

// One instruction (or two) that a field of the fill code can select.
struct FillEntry {
  u8 length;
  u8 bytes[12];
};

// Indexed by bits 0..2 of a fill-code field; bit 3 of the field puts an F3 prefix in front.
inline constexpr FillEntry fillTable[8] = {
    {0, {}},                                                           // nothing
    {6, {0xC7, 0xC0, 0, 0, 0, 0}},                                     // mov eax, 0 (C7 /0 imm32)
    {12, {0xC7, 0xC0, 0, 0, 0, 0, 0xC7, 0xC2, 0, 0, 0, 0}},            // mov eax, 0; mov edx, 0
    {7, {0x8D, 0xB4, 0x08, 0, 0, 0, 0}},                               // lea esi, [eax+ecx+0] disp32
    {8, {0x3E, 0x8D, 0xB4, 0x08, 0, 0, 0, 0}},                         // ds: lea esi, [eax+ecx+0]
    {2, {0x8B, 0xF7}},                                                 // mov esi, edi
    {5, {0xB8, 0, 0, 0, 0}},                                           // mov eax, 0 (B8 imm32)
    {1, {0x90}},                                                       // nop
};

// Writes bytes into a fixed window and never past its end: a write that does not fit is dropped
// whole, so a generator fault leaves the window short instead of writing over whatever follows.
class ByteEmitter {
 public:
  ByteEmitter(u8* begin, u32 capacity) : begin_(begin), capacity_(capacity) {}

  void emitBytes(const u8* bytes, u32 count) {
    if (count > room()) return;
    std::memcpy(begin_ + size_, bytes, count);
    size_ += count;
  }
  void emit8(u8 value) {
    if (room() == 0) return;
    begin_[size_++] = value;
  }
  void emit32(u32 value) {  // little-endian, whatever the host's byte order
    const u8 bytes[4] = {u8(value), u8(value >> 8), u8(value >> 16), u8(value >> 24)};
    emitBytes(bytes, 4);
  }

  u32 size() const { return size_; }
  u32 room() const { return capacity_ - size_; }

 private:
  u8* begin_;
  u32 capacity_;
  u32 size_ = 0;
};

// Fills `out` with the 64-byte filler of `code`: the fields 0, 1, 2, 3, 0, ... in turn, each an
// optional F3 and its fillTable entry, until the next entry no longer fits; the rest is padding
// (lea eax, [eax+0] per 4 bytes, then a 3-, 2- or 1-byte form).
void buildFiller(u16 code, u8 out[FILLER_BYTES]);

// Writes the fetch loop for a body of `size` bytes (a multiple of 64, at least 64) and fill code
// `code` at `dest`, which must hold fetchCodeBytes(size, mode) bytes, in the form for `mode`.
// `code` must be accepted by fillCodeAccepted: a rejected one gives a loop that faults or never
// returns.
void buildFetchCode(u8* dest, u32 size, u16 code, FetchMode mode = FetchMode::Bits32);

// False for code 0 (no instruction at all) and for any code with a field equal to 8 (a prefix
// with no instruction); 50624 of the 65536 codes are accepted.
bool fillCodeAccepted(u16 code);

// Timed passes through a loop of `size` bytes: (2097152 / size, at least 1) squared, at most
// 256. Small loops are repeated so that a measurement always runs long enough to be read.
u32 fetchPasses(u32 size);

}  // namespace vardelo
