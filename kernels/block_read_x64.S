/*
 * Block-read kernels for x86-64 (System V): the same loops as block_read.S, with the same entry
 * names, iteration shape and loads (declared in kernels/block_read.h).
 *
 *   uint64_t vardelo_block_read_<width>(const uint8_t* p, uint32_t iterations);
 *   uint64_t vardelo_block_read_passes_<width>(const uint8_t* p, uint32_t iterations,
 *                                              uint32_t passes);
 *
 * One iteration reads 256 bytes from p upwards as two 128-byte halves and moves p on by 128
 * after each half; iterations 0 (or passes 0) read nothing and return 0. Returns end - start of
 * the time-stamp counter in RAX. mmx64 issues EMMS and the wide kernels VZEROUPPER after the end
 * time is read, as the 32-bit ones do.
 *
 * Registers inside a kernel:
 *   rcx  p, the read pointer        esi  iterations left
 *   r8   start time                 eax  loaded values (int32)
 *   rdi  p, r9d iterations, r10d passes left (passes kernels)
 */

    .text

.macro HALF_INT32
    .irp off, 0,4,8,12,16,20,24,28,32,36,40,44,48,52,56,60,64,68,72,76,80,84,88,92,96,100,104,108,112,116,120,124
    movl \off(%rcx), %eax
    .endr
    addq $128, %rcx
.endm

.macro HALF_MMX64
    .irp r, 0,1,2,3,4,5,6,7
    movq (\r * 8)(%rcx), %mm\r
    .endr
    .irp r, 0,1,2,3,4,5,6,7
    movq (64 + \r * 8)(%rcx), %mm\r
    .endr
    addq $128, %rcx
.endm

.macro HALF_SSE128
    .irp r, 0,1,2,3,4,5,6,7
    movaps (\r * 16)(%rcx), %xmm\r
    .endr
    addq $128, %rcx
.endm

.macro HALF_AVX256
    .irp r, 0,1,2,3
    vmovaps (\r * 32)(%rcx), %ymm\r
    .endr
    addq $128, %rcx
.endm

.macro HALF_AVX512
    vmovaps 0(%rcx), %zmm0
    vmovaps 64(%rcx), %zmm1
    addq $128, %rcx
.endm

/* RDTSC into one register: EDX:EAX joined in RAX. */
.macro TSC_RAX
    rdtsc
    shlq $32, %rdx
    orq %rdx, %rax
.endm

.macro ENTRY name
    .globl \name
    .type  \name, @function
    .p2align 4
\name:
.endm

.macro BLOCK_READ name, half, after=
    ENTRY vardelo_block_read_\name
    movq %rdi, %rcx              /* p */
    xorl %eax, %eax
    testl %esi, %esi             /* iterations, the low half only: the high half is undefined */
    jz 2f
    TSC_RAX
    movq %rax, %r8               /* start time */
    .p2align 4                   /* loop head on a fetch boundary */
1:
    \half
    \half
    decl %esi
    jnz 1b
    TSC_RAX
    subq %r8, %rax
    \after
2:
    ret
    .size vardelo_block_read_\name, . - vardelo_block_read_\name
.endm

    BLOCK_READ int32, HALF_INT32
    BLOCK_READ mmx64, HALF_MMX64, emms
    BLOCK_READ sse128, HALF_SSE128
    BLOCK_READ avx256, HALF_AVX256, vzeroupper
    BLOCK_READ avx512, HALF_AVX512, vzeroupper

.macro BLOCK_READ_PASSES name, half
    ENTRY vardelo_block_read_passes_\name
    xorl %eax, %eax
    movl %esi, %r9d              /* iterations */
    movl %edx, %r10d             /* passes */
    testl %r9d, %r9d
    jz 2f
    testl %r10d, %r10d
    jz 2f
    TSC_RAX
    movq %rax, %r8               /* start time */
3:
    movq %rdi, %rcx              /* p */
    movl %r9d, %esi              /* iterations */
    .p2align 4
1:
    \half
    \half
    decl %esi
    jnz 1b
    decl %r10d
    jnz 3b
    TSC_RAX
    subq %r8, %rax
    vzeroupper
2:
    ret
    .size vardelo_block_read_passes_\name, . - vardelo_block_read_passes_\name
.endm

    BLOCK_READ_PASSES avx256, HALF_AVX256
    BLOCK_READ_PASSES avx512, HALF_AVX512

    .section .note.GNU-stack, "", @progbits
