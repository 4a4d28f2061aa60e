/*
 * Latency kernel: a timed walk along the pointer chain that kernels/latency_chain.cpp writes
 * into the test area (x86-32, cdecl).
 *
 *   uint64_t vardelo_latency_chase(const void** cursor, uint32_t rounds);
 *
 * Starts at the address in *cursor and makes 16 * rounds loads, each of the 32-bit word at the
 * address the previous load returned (MOV eax, [eax]), so no load can start before the one
 * before it has its data. Writes the address reached back to *cursor, so a later call goes on
 * where this one stopped and a test can check how far it went. rounds must be at least 1; 0
 * makes no load and returns 0.
 *
 * Returns end - start of the time-stamp counter in EDX:EAX, without a serialising instruction:
 * the caller subtracts the cost of a back-to-back pair of counter reads.
 *
 * Registers: eax the chain pointer, ecx rounds left, esi low half and edi high half of the
 * start time, ebx the cursor's address, ebp the first address until the start time is read.
 */

    .text

    .globl _vardelo_latency_chase
    .def   _vardelo_latency_chase; .scl 2; .type 32; .endef
    .p2align 4
_vardelo_latency_chase:
    pushl %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 20(%esp), %ebx          /* cursor (past four saved registers and the return address) */
    movl 24(%esp), %ecx          /* rounds */
    xorl %eax, %eax
    xorl %edx, %edx
    testl %ecx, %ecx
    jz 2f
    movl (%ebx), %ebp            /* the first address of the chain */
    rdtsc
    movl %eax, %esi              /* start time */
    movl %edx, %edi
    movl %ebp, %eax
    .p2align 4
1:
    .rept 16
    movl (%eax), %eax            /* the next address: waits for this load */
    .endr
    decl %ecx
    jnz 1b
    movl %eax, %ecx              /* the address reached */
    rdtsc
    subl %esi, %eax              /* end - start, 64 bits */
    sbbl %edi, %edx
    movl %ecx, (%ebx)
2:
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
