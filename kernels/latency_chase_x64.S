/*
 * Latency kernel for x86-64 (System V): the walk of latency_chase.S along the pointer chain of
 * kernels/latency_chain.cpp, whose links are 64-bit addresses here.
 *
 *   uint64_t vardelo_latency_chase(const void** cursor, uint32_t rounds);
 *
 * Starts at the address in *cursor, makes 16 * rounds loads, each of the address the one
 * before returned (MOV rax, [rax]), and writes the address reached back to *cursor. rounds 0
 * makes no load and returns 0. Returns end - start of the time-stamp counter in RAX.
 *
 * Registers: rax the chain pointer, ecx rounds left, r9 the start time, rdi the cursor's address.
 */

    .text
    .globl vardelo_latency_chase
    .type  vardelo_latency_chase, @function
    .p2align 4
vardelo_latency_chase:
    xorl %eax, %eax
    movl %esi, %ecx              /* rounds */
    testl %ecx, %ecx
    jz 2f
    movq (%rdi), %r8             /* the first address of the chain */
    rdtsc
    shlq $32, %rdx
    orq %rax, %rdx
    movq %rdx, %r9               /* start time */
    movq %r8, %rax
    .p2align 4
1:
    .rept 16
    movq (%rax), %rax            /* the next address: waits for this load */
    .endr
    decl %ecx
    jnz 1b
    movq %rax, %rcx              /* the address reached */
    rdtsc
    shlq $32, %rdx
    orq %rdx, %rax
    subq %r9, %rax               /* end - start */
    movq %rcx, (%rdi)
2:
    ret
    .size vardelo_latency_chase, . - vardelo_latency_chase

    .section .note.GNU-stack, "", @progbits
