#include "kernels/fetch_code.h"

namespace vardelo {

namespace {

constexpr u8 REP_PREFIX = 0xF3;
constexpr u32 FIELD_PREFIX_BIT = 0x8;
constexpr u32 FIELD_INDEX_MASK = 0x7;
constexpr u32 FIELDS_PER_CODE = 4;

constexpr u8 HEAD[FETCH_HEAD_BYTES] = {
    0x8D, 0x44, 0x0B, 0x00,  // lea eax, [ebx+ecx+0]
    0x8D, 0x44, 0x0B, 0x00,  // lea eax, [ebx+ecx+0]
    0x8D, 0x44, 0x0B, 0x00,  // lea eax, [ebx+ecx+0]
    0x0F, 0x31,              // rdtsc
    0x8B, 0xD8,              // mov ebx, eax
};

constexpr u8 TAIL_JUMP[4] = {0x90, 0x49, 0x0F, 0x85};  // nop; dec ecx; jnz rel32 (follows)
constexpr u8 TAIL_JUMP_64[5] = {0x90, 0xFF, 0xC9, 0x0F, 0x85};  // the same with dec ecx as FF /1
constexpr u8 TAIL_END[4] = {0x0F, 0x31, 0xC3, 0xC3};   // rdtsc; ret; ret

constexpr u8 PAD4[4] = {0x8D, 0x44, 0x20, 0x00};  // lea eax, [eax+0] (disp8)
constexpr u8 PAD3[3] = {0x8D, 0x04, 0x20};        // lea eax, [eax] (through a SIB byte)
constexpr u8 PAD2[2] = {0x8B, 0xC2};              // mov eax, edx
constexpr u8 PAD1[1] = {0x90};                    // nop

void pad(ByteEmitter& out) {
  while (out.room() >= 4) out.emitBytes(PAD4, 4);
  switch (out.room()) {
    case 3: out.emitBytes(PAD3, 3); break;
    case 2: out.emitBytes(PAD2, 2); break;
    case 1: out.emitBytes(PAD1, 1); break;
    default: break;
  }
}

}  // namespace

void buildFiller(u16 code, u8 out[FILLER_BYTES]) {
  ByteEmitter filler(out, FILLER_BYTES);
  u32 field = 0;
  u32 roomAtCycleStart = filler.room();
  while (filler.room() > 0) {
    const u32 bits = (code >> (4 * field)) & 0xF;
    if (bits & FIELD_PREFIX_BIT) {
      filler.emit8(REP_PREFIX);
      if (filler.room() == 0) break;
    }
    const FillEntry& entry = fillTable[bits & FIELD_INDEX_MASK];
    if (entry.length > filler.room()) break;
    filler.emitBytes(entry.bytes, entry.length);
    field = (field + 1) % FIELDS_PER_CODE;
    if (field == 0) {
      // Only code 0 emits nothing in a whole round of fields; pad rather than spin forever.
      if (filler.room() == roomAtCycleStart) break;
      roomAtCycleStart = filler.room();
    }
  }
  pad(filler);
}

void buildFetchCode(u8* dest, u32 size, u16 code, FetchMode mode) {
  // Every filler starts again at field 0, so they are all the same: build one, then double the
  // body by copying what is already written (a handful of copies instead of one per filler).
  u8 filler[FILLER_BYTES];
  buildFiller(code, filler);

  ByteEmitter loop(dest, fetchCodeBytes(size, mode));
  loop.emitBytes(HEAD, sizeof HEAD);
  const u32 bodyBytes = size / FILLER_BYTES * FILLER_BYTES;
  if (bodyBytes > 0) loop.emitBytes(filler, FILLER_BYTES);
  for (u32 done = FILLER_BYTES; done < bodyBytes;) {
    const u32 chunk = done <= bodyBytes - done ? done : bodyBytes - done;
    loop.emitBytes(dest + FETCH_HEAD_BYTES, chunk);
    done += chunk;
  }
  // The jnz jumps from its own end back to offset 16.
  if (mode == FetchMode::Bits64) {
    loop.emitBytes(TAIL_JUMP_64, sizeof TAIL_JUMP_64);
    loop.emit32(0xFFFFFFF7u - size);
  } else {
    loop.emitBytes(TAIL_JUMP, sizeof TAIL_JUMP);
    loop.emit32(0xFFFFFFF8u - size);
  }
  loop.emitBytes(TAIL_END, sizeof TAIL_END);
}

bool fillCodeAccepted(u16 code) {
  if (code == 0) return false;
  for (u32 field = 0; field < FIELDS_PER_CODE; ++field) {
    if (((code >> (4 * field)) & 0xF) == FIELD_PREFIX_BIT) return false;
  }
  return true;
}

u32 fetchPasses(u32 size) {
  constexpr u32 PASS_SCALE = 0x200000;  // 2 MiB
  constexpr u32 MAX_PASSES = 256;
  // Up to 128 KiB the quotient is 16 or more and its square at least 256; this also keeps the
  // square within 32 bits for small sizes.
  if (size <= PASS_SCALE / 16) return MAX_PASSES;
  u32 quotient = PASS_SCALE / size;
  if (quotient == 0) quotient = 1;
  return quotient * quotient;
}

}  // namespace vardelo
