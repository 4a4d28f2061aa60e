/*
 * Strided RAM kernels for x86-64 (System V): the walks of stride_kernels.S, with the same entry
 * names, pattern loops and touches (kernels/stride_pattern.h holds the patterns as a table).
 *
 *   uint64_t vardelo_stride_<access>(uint8_t* window, uint32_t step, uint32_t block,
 *                                    int32_t lineSize);
 *
 * <access> read32, write32 (32-bit stores of the start time's low half), writeNt64 (MOVNTQ) and
 * write64 (MOVQ). Returns end - start of the time-stamp counter in RAX. The MMX kernels leave
 * the MMX state set: the caller issues EMMS (vardelo_stride_mmx_done). Touches reach up to 255
 * bytes beyond window + 8 MiB.
 *
 * Registers inside a kernel:
 *   rsi  p, the walk pointer          rdi  end = window + 8 MiB
 *   r9   sub-step                      ecx  block, then iterations left
 *   r10d lineSize (pattern choice)     eax  low half of the start time
 *   edx  loaded values (read32)        mm0  stored value of the 64-bit kernels
 *   r11  start time
 */

    .set WINDOW_BYTES, 0x800000

.macro LOAD32 off
    movl \off(%rsi), %edx
.endm
.macro STORE32 off
    movl %eax, \off(%rsi)
.endm
.macro STORENT64 off
    movntq %mm0, \off(%rsi)
.endm
.macro STORE64 off
    movq %mm0, \off(%rsi)
.endm

.macro TOUCHES touch, count, spacing, off
    \touch \off
    .if \count - 1
    TOUCHES \touch, "\count-1", \spacing, "\off+\spacing"
    .endif
.endm

.macro STRIDE_LOOP touch, iters, groups, shift, count, spacing, done
    movl $\iters, %ecx
    .if \shift
    shrl $\shift, %r9d                   # sub-step, made once before the loop
    .endif
    .p2align 4
1:
    .rept \groups
    TOUCHES \touch, \count, \spacing, 0
    addq %r9, %rsi
    cmpq %rdi, %rsi                      # unsigned: past the window end?
    jae 3f                               # rarely taken: wrap, ending the iteration
    .endr
2:
    decl %ecx
    jnz 1b
    jmp \done
3:
    subq $WINDOW_BYTES, %rsi
    jmp 2b
.endm

.macro STRIDE_ENTRY name
    .globl vardelo_stride_\name
    .type  vardelo_stride_\name, @function
    .p2align 4
vardelo_stride_\name:
    movl %ecx, %r10d                     # lineSize
    movl %edx, %ecx                      # block
    movl %esi, %r9d                      # step, zero-extended
    movq %rdi, %rsi                      # p = window
    leaq WINDOW_BYTES(%rsi), %rdi        # end
    rdtsc
    movq %rdx, %r11
    shlq $32, %r11
    orq %rax, %r11                       # start; eax keeps its low half for write32
    cmpl $32, %ecx
    je .L\name\()_b32
    cmpl $64, %ecx
    je .L\name\()_b64
    cmpl $128, %ecx
    je .L\name\()_b128
    jmp .L\name\()_b256                  # any other block is walked as 256
.endm

.macro STRIDE_EXIT name
.L\name\()_done:
    rdtsc
    shlq $32, %rdx
    orq %rdx, %rax
    subq %r11, %rax
    ret
    .size vardelo_stride_\name, . - vardelo_stride_\name
.endm

.macro STRIDE_WORDS32 name, touch
    STRIDE_ENTRY \name
.L\name\()_b64:
    cmpl $32, %r10d
    jle .L\name\()_b64_le32              # signed compare: any lineSize up to 32
    jmp .L\name\()_b64_wide
.L\name\()_b128:
    cmpl $32, %r10d
    jle .L\name\()_b128_le32
    cmpl $64, %r10d
    je .L\name\()_b128_64
    jmp .L\name\()_b128_wide
.L\name\()_b256:
    cmpl $32, %r10d
    jle .L\name\()_b256_le32
    cmpl $64, %r10d
    je .L\name\()_b256_64
    cmpl $128, %r10d
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

.macro STRIDE_RUNS64 name, touch
    STRIDE_ENTRY \name
.L\name\()_b128:
    cmpl $32, %r10d
    jle .L\name\()_b128_le32
    jmp .L\name\()_b128_wide
.L\name\()_b256:
    cmpl $32, %r10d
    jle .L\name\()_b256_le32
    cmpl $64, %r10d
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
 * CLFLUSH of every line from p until bytes are covered, then a locked add to the stack, which
 * waits for the flushes as in the 32-bit kernel. bytes 0 flushes nothing.
 */
.macro FLUSH_ENTRY name, flush
    .globl vardelo_stride_\name
    .type  vardelo_stride_\name, @function
    .p2align 4
vardelo_stride_\name:
    movl %edx, %edx                      # line, zero-extended
    testl %esi, %esi                     # bytes left
    jz 2f
1:
    \flush (%rdi)
    addq %rdx, %rdi
    subl %edx, %esi
    ja 1b                                # unsigned: stops at 0 and on the last partial line
2:
    lock addl $0, (%rsp)
    ret
    .size vardelo_stride_\name, . - vardelo_stride_\name
.endm

    FLUSH_ENTRY flush, clflush
    FLUSH_ENTRY flush_opt, clflushopt

/* void vardelo_stride_mmx_done(void): leaves MMX state so x87 code can run again. */
    .globl vardelo_stride_mmx_done
    .type  vardelo_stride_mmx_done, @function
    .p2align 4
vardelo_stride_mmx_done:
    emms
    ret
    .size vardelo_stride_mmx_done, . - vardelo_stride_mmx_done

    .section .note.GNU-stack, "", @progbits
