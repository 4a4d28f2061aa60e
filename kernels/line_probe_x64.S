# One timed pass of the line-size probe for x86-64 (System V), as line_probe.S does it in 32-bit
# code (declared in kernels/line_probe.h).
#
#   uint64_t vardelo_line_probe_pass(const uint8_t* base, uint32_t lengthBytes, uint32_t strideBytes)
#
# Reads the byte at base, then every strideBytes further while the address stays below
# base + lengthBytes, between two RDTSC; returns the tick difference in RAX.

    .text
    .globl vardelo_line_probe_pass
    .type  vardelo_line_probe_pass, @function
    .p2align 4
vardelo_line_probe_pass:
    movl %esi, %r8d              # length, zero-extended
    addq %rdi, %r8               # end = base + length
    movl %edx, %ecx              # stride, zero-extended
    movq %rdi, %rsi              # p = base
    rdtsc
    shlq $32, %rdx
    orq %rax, %rdx
    movq %rdx, %r9               # start
1:  movzbl (%rsi), %eax          # the touch; its value is not used
    addq %rcx, %rsi
    cmpq %r8, %rsi
    jb 1b
    rdtsc
    shlq $32, %rdx
    orq %rdx, %rax
    subq %r9, %rax               # end - start
    ret
    .size vardelo_line_probe_pass, . - vardelo_line_probe_pass

    .section .note.GNU-stack, "", @progbits
