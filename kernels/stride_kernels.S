/*
 * Strided RAM kernels: timed walks over the 8 MiB RAM window (x86-32, cdecl).
 *
 *   uint64_t vardelo_stride_<access>(uint8_t* window, uint32_t step, uint32_t block,
 *                                    int32_t lineSize);
 *
 * Entry names, <access>:
 *   read32     32-bit loads                        Words32 patterns
 *   write32    32-bit stores of the start time     Words32 patterns
 *   writeNt64  64-bit non-temporal stores (MOVNTQ) Runs64 patterns, needs SSE
 *   write64    64-bit stores (MOVQ)                Runs64 patterns, needs MMX
 * Pattern loops: .L<access>_b<block>_<line class>, the class being le32 (lineSize <= 32),
 * 64, 128, other, or wide (every class above 32 that shares one loop); block 32 (and block
 * 64 of the Runs64 kernels) have one loop for all classes.
 *
 * The caller passes the step already made positive (gap + block, 0 -> block, negated when
 * negative); the kernel derives the iterations (8 MiB / block) and the pattern from block
 * and lineSize. kernels/stride_pattern.h holds the same patterns as a table.
 *
 * Returns end - start of the time-stamp counter in EDX:EAX. RDTSC is not serialising, and
 * nothing fences the non-temporal stores before the end time is read. The MMX kernels leave
 * the MMX state set: the caller issues EMMS (vardelo_stride_mmx_done) before any x87 code.
 * Touches reach up to 255 bytes beyond window + 8 MiB.
 *
 * Registers inside a kernel:
 *   esi  p, the walk pointer          edi  end = window + 8 MiB
 *   ebx  sub-step                      ecx  block, then iterations left
 *   ebp  lineSize (pattern choice)     eax  low half of the start time
 *   edx  loaded values (read32)        mm0  stored value of the 64-bit kernels
 *   (%esp), 4(%esp)  start time
 */

    .set WINDOW_BYTES, 0x800000

/* Accesses, one per touch at byte offset off from p. */
.macro LOAD32 off
    movl \off(%esi), %edx
.endm
.macro STORE32 off
    movl %eax, \off(%esi)
.endm
.macro STORENT64 off
    movntq %mm0, \off(%esi)
.endm
.macro STORE64 off
    movq %mm0, \off(%esi)
.endm

/* count accesses, spacing bytes apart, from off upwards. */
.macro TOUCHES touch, count, spacing, off
    \touch \off
    .if \count - 1
    TOUCHES \touch, "\count-1", \spacing, "\off+\spacing"
    .endif
.endm

/* One pattern loop: groups per iteration, each group count touches then a sub-step add. */
.macro STRIDE_LOOP touch, iters, groups, shift, count, spacing, done
    movl $\iters, %ecx
    .if \shift
    shrl $\shift, %ebx                   # sub-step, made once before the loop
    .endif
    .p2align 4
1:
    .rept \groups
    TOUCHES \touch, \count, \spacing, 0
    addl %ebx, %esi
    cmpl %edi, %esi                      # unsigned: past the window end?
    jae 3f                               # rarely taken: wrap, ending the iteration
    .endr
2:
    decl %ecx
    jnz 1b
    jmp \done
3:
    subl $WINDOW_BYTES, %esi
    jmp 2b
.endm

/* Prologue: arguments in, start time read, then the block test. */
.macro STRIDE_ENTRY name
    .globl _vardelo_stride_\name
    .p2align 4
_vardelo_stride_\name:
    pushl %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 20(%esp), %esi                  # p = window
    movl 24(%esp), %ebx                  # step
    movl 28(%esp), %ecx                  # block
    movl 32(%esp), %ebp                  # lineSize
    leal WINDOW_BYTES(%esi), %edi        # end
    rdtsc
    pushl %edx
    pushl %eax                           # start; eax keeps its low half for write32
    cmpl $32, %ecx
    je .L\name\()_b32
    cmpl $64, %ecx
    je .L\name\()_b64
    cmpl $128, %ecx
    je .L\name\()_b128
    jmp .L\name\()_b256                  # any other block is walked as 256
.endm

/* Epilogue: end time minus start time. */
.macro STRIDE_EXIT name
.L\name\()_done:
    rdtsc
    subl (%esp), %eax
    sbbl 4(%esp), %edx
    addl $8, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
.endm

/* A kernel over the Words32 patterns. */
.macro STRIDE_WORDS32 name, touch
    STRIDE_ENTRY \name
.L\name\()_b64:
    cmpl $32, %ebp
    jle .L\name\()_b64_le32              # signed compare: any lineSize up to 32
    jmp .L\name\()_b64_wide
.L\name\()_b128:
    cmpl $32, %ebp
    jle .L\name\()_b128_le32
    cmpl $64, %ebp
    je .L\name\()_b128_64
    jmp .L\name\()_b128_wide
.L\name\()_b256:
    cmpl $32, %ebp
    jle .L\name\()_b256_le32
    cmpl $64, %ebp
    je .L\name\()_b256_64
    cmpl $128, %ebp
    je .L\name\()_b256_128
    jmp .L\name\()_b256_other

.L\name\()_b32:                          # +0
    STRIDE_LOOP \touch, 262144, 1, 0, 1, 0, .L\name\()_done
.L\name\()_b64_le32:                     # +0 +32
    STRIDE_LOOP \touch, 131072, 1, 0, 2, 32, .L\name\()_done
.L\name\()_b64_wide:                     # +0
    STRIDE_LOOP \touch, 131072, 1, 0, 1, 0, .L\name\()_done
.L\name\()_b128_le32:                    # two full steps of +0 +32
    STRIDE_LOOP \touch, 65536, 2, 0, 2, 32, .L\name\()_done
.L\name\()_b128_64:                      # +0 +64
    STRIDE_LOOP \touch, 65536, 1, 0, 2, 64, .L\name\()_done
.L\name\()_b128_wide:                    # +0
    STRIDE_LOOP \touch, 65536, 1, 0, 1, 0, .L\name\()_done
.L\name\()_b256_le32:                    # four quarter steps of +0 +32
    STRIDE_LOOP \touch, 32768, 4, 2, 2, 32, .L\name\()_done
.L\name\()_b256_64:                      # two half steps of +0 +64
    STRIDE_LOOP \touch, 32768, 2, 1, 2, 64, .L\name\()_done
.L\name\()_b256_128:                     # +0 +128
    STRIDE_LOOP \touch, 32768, 1, 0, 2, 128, .L\name\()_done
.L\name\()_b256_other:                   # +0
    STRIDE_LOOP \touch, 32768, 1, 0, 1, 0, .L\name\()_done
    STRIDE_EXIT \name
.endm

/* A kernel over the Runs64 patterns: contiguous 8-byte stores. */
.macro STRIDE_RUNS64 name, touch
    STRIDE_ENTRY \name
.L\name\()_b128:
    cmpl $32, %ebp
    jle .L\name\()_b128_le32
    jmp .L\name\()_b128_wide
.L\name\()_b256:
    cmpl $32, %ebp
    jle .L\name\()_b256_le32
    cmpl $64, %ebp
    je .L\name\()_b256_64
    jmp .L\name\()_b256_wide             # 128 and other: the whole block

.L\name\()_b32:                          # 32 bytes
    STRIDE_LOOP \touch, 262144, 1, 0, 4, 8, .L\name\()_done
.L\name\()_b64:                          # 64 bytes
    STRIDE_LOOP \touch, 131072, 1, 0, 8, 8, .L\name\()_done
.L\name\()_b128_le32:                    # two full steps of 64 bytes
    STRIDE_LOOP \touch, 65536, 2, 0, 8, 8, .L\name\()_done
.L\name\()_b128_wide:                    # 128 bytes
    STRIDE_LOOP \touch, 65536, 1, 0, 16, 8, .L\name\()_done
.L\name\()_b256_le32:                    # four quarter steps of 64 bytes
    STRIDE_LOOP \touch, 32768, 4, 2, 8, 8, .L\name\()_done
.L\name\()_b256_64:                      # two half steps of 128 bytes
    STRIDE_LOOP \touch, 32768, 2, 1, 16, 8, .L\name\()_done
.L\name\()_b256_wide:                    # 256 bytes
    STRIDE_LOOP \touch, 32768, 1, 0, 32, 8, .L\name\()_done
    STRIDE_EXIT \name
.endm

    .text
    STRIDE_WORDS32 read32, LOAD32
    STRIDE_WORDS32 write32, STORE32
    STRIDE_RUNS64 writeNt64, STORENT64
    STRIDE_RUNS64 write64, STORE64

/*
 * void vardelo_stride_flush(const uint8_t* p, uint32_t bytes, uint32_t lineBytes)
 * void vardelo_stride_flush_opt(...): the same with CLFLUSHOPT (needs CLFLUSHOPT)
 *
 * CLFLUSH of every line from p (aligned to lineBytes) until bytes are covered, so that the next
 * walk there starts from memory that is in no cache; dirty lines are written back, the data
 * stays. A locked add to the stack then waits for the flushes to complete (CLFLUSH and
 * CLFLUSHOPT are ordered with locked instructions; MFENCE would need SSE2). Needs CLFLUSH; bytes
 * 0 flushes nothing.
 */
.macro FLUSH_ENTRY name, flush
    .globl _vardelo_stride_\name
    .p2align 4
_vardelo_stride_\name:
    movl 4(%esp), %eax                   # p
    movl 8(%esp), %ecx                   # bytes left
    movl 12(%esp), %edx                  # line
    testl %ecx, %ecx
    jz 2f
1:
    \flush (%eax)
    addl %edx, %eax
    subl %edx, %ecx
    ja 1b                                # unsigned: stops at 0 and on the last partial line
2:
    lock addl $0, (%esp)
    ret
.endm

    FLUSH_ENTRY flush, clflush
    FLUSH_ENTRY flush_opt, clflushopt

/* void vardelo_stride_mmx_done(void): leaves MMX state so x87 code can run again. */
    .globl _vardelo_stride_mmx_done
    .p2align 4
_vardelo_stride_mmx_done:
    emms
    ret
