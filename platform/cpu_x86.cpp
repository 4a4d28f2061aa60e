// CPUID, the EFLAGS ID bit and RDTSC for x86, 32- and 64-bit, in GCC inline assembly.
#include "platform/cpu.h"

namespace vardelo {

namespace {
constexpr u32 EFLAGS_ID = 0x200000;  // bit 21: writable only where CPUID exists
constexpr u32 LEAF_BRAND_FIRST = 0x80000002u;
constexpr u32 LEAF_BRAND_LAST = 0x80000004u;
}  // namespace

CpuidRegs cpuid(u32 leaf) { return cpuidSub(leaf, 0); }

CpuidRegs cpuidSub(u32 leaf, u32 subleaf) {
  CpuidRegs r;
  asm volatile("cpuid"
               : "=a"(r.eax), "=b"(r.ebx), "=c"(r.ecx), "=d"(r.edx)
               : "a"(leaf), "c"(subleaf));
  return r;
}

bool idFlagToggles() {
#if defined(__x86_64__)
  // The same on the 64-bit flags; the pushes first step over the red zone below RSP, where the
  // compiler may keep this function's locals.
  std::uint64_t before, after;
  asm volatile(
      "addq $-128, %%rsp\n\t"
      "pushfq\n\t"
      "popq %[before]\n\t"
      "movq %[before], %[after]\n\t"
      "xorq %[id], %[after]\n\t"
      "pushq %[after]\n\t"
      "popfq\n\t"
      "pushfq\n\t"
      "popq %[after]\n\t"
      "pushq %[before]\n\t"
      "popfq\n\t"
      "subq $-128, %%rsp"
      : [before] "=&r"(before), [after] "=&r"(after)
      : [id] "i"(EFLAGS_ID)
      : "cc");
#else
  u32 before, after;
  asm volatile(
      "pushfl\n\t"
      "popl %[before]\n\t"  // before = EFLAGS
      "movl %[before], %[after]\n\t"
      "xorl %[id], %[after]\n\t"  // invert the ID bit
      "pushl %[after]\n\t"
      "popfl\n\t"  // try to write it
      "pushfl\n\t"
      "popl %[after]\n\t"  // after = EFLAGS as the processor kept it
      "pushl %[before]\n\t"
      "popfl"  // put the original flags back
      : [before] "=&r"(before), [after] "=&r"(after)
      : [id] "i"(EFLAGS_ID)
      : "cc");
#endif
  return after != before;
}

// EDX:EAX as two outputs: "=A" would mean RAX alone on x86-64.
u64 readTsc() {
  u32 low, high;
  asm volatile("rdtsc" : "=a"(low), "=d"(high));
  return (u64{high} << 32) | low;
}

u32 tscPairTicks() {
  u32 ticks;
  asm volatile(
      "rdtsc\n\t"
      "movl %%eax, %%ecx\n\t"
      "rdtsc\n\t"
      "subl %%ecx, %%eax"
      : "=a"(ticks)
      :
      : "ecx", "edx", "cc");
  return ticks;
}

void spinTsc(u32 rounds) {
  if (rounds == 0) return;
  asm volatile(
      "1:\n\t"
      "rdtsc\n\trdtsc\n\trdtsc\n\trdtsc\n\t"
      "rdtsc\n\trdtsc\n\trdtsc\n\trdtsc\n\t"
      "rdtsc\n\trdtsc\n\trdtsc\n\trdtsc\n\t"
      "rdtsc\n\trdtsc\n\trdtsc\n\trdtsc\n\t"
      "decl %[rounds]\n\t"
      "jnz 1b"
      : [rounds] "+r"(rounds)
      :
      : "eax", "edx", "cc");
}

void vendorString(char out[13]) { vendorFromLeaf0(cpuid(0), out); }

void brandString(char out[49]) {
  if (cpuid(LEAF_EXT_RANGE).eax < LEAF_BRAND_LAST) {
    out[0] = '\0';
    return;
  }
  CpuidRegs leaves[3];
  for (u32 i = 0; i < 3; ++i) leaves[i] = cpuid(LEAF_BRAND_FIRST + i);
  brandFromLeaves(leaves, out);
}

}  // namespace vardelo
