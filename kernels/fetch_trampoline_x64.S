/*
 * uint64_t vardelo_call_fetch_loop(const void* code, uint32_t passes)   -- x86-64, System V
 *
 * Enters the fetch loop (built with FetchMode::Bits64) with a near call and ECX = passes. The
 * loop returns the end time's low half in EAX and the start time's low half in EBX; the result
 * holds end in its low and start in its high half, as the 32-bit trampoline's does.
 *
 * The loop changes RAX, RBX, RCX, RDX, RSI and the flags; of these only RBX is the caller's to
 * keep, so it is saved here.
 */
        .text
        .globl  vardelo_call_fetch_loop
        .type   vardelo_call_fetch_loop, @function
        .p2align 4
vardelo_call_fetch_loop:
        pushq   %rbx
        movl    %esi, %ecx              /* passes */
        call    *%rdi
        shlq    $32, %rbx               /* start time: the loop's MOV EBX cleared the high half */
        movl    %eax, %eax              /* end time */
        orq     %rbx, %rax
        popq    %rbx
        ret
        .size   vardelo_call_fetch_loop, . - vardelo_call_fetch_loop

        .section .note.GNU-stack, "", @progbits
