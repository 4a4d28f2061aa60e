/*
 * Block-read kernels: timed linear reads of one block of the test area (x86-32, cdecl).
 *
 *   uint64_t vardelo_block_read_<width>(const uint8_t* p, uint32_t iterations);
 *
 * Entry names, <width>:
 *   int32   32-bit integer loads (MOV), all into EAX     64 loads per iteration
 *   mmx64   64-bit loads (MOVQ) into mm0..mm7, twice     32 loads per iteration, needs MMX
 *   sse128  128-bit aligned loads (MOVAPS) into xmm0..7  16 loads per iteration, needs SSE;
 *           p must be a multiple of 16
 *   avx256  256-bit aligned loads (VMOVAPS) into ymm0..3  8 loads per iteration, needs AVX
 *           and YMM state saved by the system; p must be a multiple of 32
 *   avx512  512-bit aligned loads (VMOVAPS) into zmm0..1  4 loads per iteration, needs
 *           AVX-512F and ZMM state saved by the system; p must be a multiple of 64
 *
 * One iteration reads 256 bytes from p upwards as two 128-byte halves, in ascending address
 * order, and moves p on by 128 after each half. The loop is fully unrolled: besides the loads
 * it holds two pointer advances, one count-down and one branch. The loaded values are never
 * used. iterations must be at least 1; 0 reads nothing and returns 0.
 *
 * Returns end - start of the time-stamp counter in EDX:EAX. RDTSC is not serialising: the
 * caller subtracts the measured cost of a back-to-back pair instead. mmx64 issues EMMS after
 * the end time is read, so the x87 unit is usable again when it returns; avx256 and avx512
 * issue VZEROUPPER there, so later SSE code pays no penalty for dirty upper register halves.
 * The wide kernels are encoded here only: the compiled code stays plain i686.
 *
 * The wide widths also have a kernel that reads the block several times between one pair of
 * counter reads:
 *
 *   uint64_t vardelo_block_read_passes_<width>(const uint8_t* p, uint32_t iterations,
 *                                              uint32_t passes);
 *
 * <width> avx256 or avx512. It reads the same iterations × 256 bytes from p upwards `passes`
 * times over and returns the ticks of all of them; passes 0 or iterations 0 read nothing and
 * return 0. A pass of a small block at these widths lasts a few dozen ticks, too short for
 * counter reads around each pass: how much of a read pair overlaps the loads around it is not
 * the cost of a back-to-back pair.
 *
 * Registers inside a kernel:
 *   ecx  p, the read pointer        esi  iterations left
 *   edi  low half of start time     ebx  high half of start time
 *   eax  loaded values (int32)      edx  passes left (passes kernels)
 */

    .text

/* 32 loads of 32 bits at +0, +4, ..., +124, then p += 128. */
.macro HALF_INT32
    .irp off, 0,4,8,12,16,20,24,28,32,36,40,44,48,52,56,60,64,68,72,76,80,84,88,92,96,100,104,108,112,116,120,124
    movl \off(%ecx), %eax
    .endr
    addl $128, %ecx
.endm

/* 16 loads of 64 bits at +0, +8, ..., +120: mm0..mm7 take the first 64 bytes, and again the
   second 64. Then p += 128. */
.macro HALF_MMX64
    .irp r, 0,1,2,3,4,5,6,7
    movq (\r * 8)(%ecx), %mm\r
    .endr
    .irp r, 0,1,2,3,4,5,6,7
    movq (64 + \r * 8)(%ecx), %mm\r
    .endr
    addl $128, %ecx
.endm

/* 8 aligned loads of 128 bits at +0, +16, ..., +112 into xmm0..xmm7, then p += 128. */
.macro HALF_SSE128
    .irp r, 0,1,2,3,4,5,6,7
    movaps (\r * 16)(%ecx), %xmm\r
    .endr
    addl $128, %ecx
.endm

/* 4 aligned loads of 256 bits at +0, +32, +64, +96 into ymm0..ymm3, then p += 128. */
.macro HALF_AVX256
    .irp r, 0,1,2,3
    vmovaps (\r * 32)(%ecx), %ymm\r
    .endr
    addl $128, %ecx
.endm

/* 2 aligned loads of 512 bits at +0 and +64 into zmm0 and zmm1, then p += 128. */
.macro HALF_AVX512
    vmovaps 0(%ecx), %zmm0
    vmovaps 64(%ecx), %zmm1
    addl $128, %ecx
.endm

/* One kernel: name, the macro that reads a half, and what follows the end time (EMMS or
   VZEROUPPER or nothing). */
.macro BLOCK_READ name, half, after=
    .globl _vardelo_block_read_\name
    .def   _vardelo_block_read_\name; .scl 2; .type 32; .endef
    .p2align 4
_vardelo_block_read_\name:
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 16(%esp), %ecx          /* p (past three saved registers and the return address) */
    movl 20(%esp), %esi          /* iterations */
    xorl %eax, %eax
    xorl %edx, %edx
    testl %esi, %esi
    jz 2f                        /* no iterations: nothing read, 0 returned */
    rdtsc
    movl %eax, %edi              /* start time */
    movl %edx, %ebx
    .p2align 4                   /* loop head on a fetch boundary */
1:
    \half
    \half
    decl %esi
    jnz 1b
    rdtsc
    subl %edi, %eax              /* end - start, 64 bits */
    sbbl %ebx, %edx
    \after
2:
    popl %edi
    popl %esi
    popl %ebx
    ret
.endm

    BLOCK_READ int32, HALF_INT32
    BLOCK_READ mmx64, HALF_MMX64, emms
    BLOCK_READ sse128, HALF_SSE128
    BLOCK_READ avx256, HALF_AVX256, vzeroupper
    BLOCK_READ avx512, HALF_AVX512, vzeroupper

/* A kernel over several passes: name, the macro that reads a half. The arguments stay on the
   stack and are read again before each pass. */
.macro BLOCK_READ_PASSES name, half
    .globl _vardelo_block_read_passes_\name
    .def   _vardelo_block_read_passes_\name; .scl 2; .type 32; .endef
    .p2align 4
_vardelo_block_read_passes_\name:
    pushl %ebx
    pushl %esi
    pushl %edi
    xorl %eax, %eax
    xorl %edx, %edx
    cmpl $0, 20(%esp)            /* iterations */
    je 2f
    cmpl $0, 24(%esp)            /* passes */
    je 2f
    rdtsc
    movl %eax, %edi              /* start time */
    movl %edx, %ebx
    movl 24(%esp), %edx          /* passes */
3:
    movl 16(%esp), %ecx          /* p */
    movl 20(%esp), %esi          /* iterations */
    .p2align 4
1:
    \half
    \half
    decl %esi
    jnz 1b
    decl %edx
    jnz 3b
    rdtsc
    subl %edi, %eax              /* end - start, 64 bits */
    sbbl %ebx, %edx
    vzeroupper
2:
    popl %edi
    popl %esi
    popl %ebx
    ret
.endm

    BLOCK_READ_PASSES avx256, HALF_AVX256
    BLOCK_READ_PASSES avx512, HALF_AVX512
