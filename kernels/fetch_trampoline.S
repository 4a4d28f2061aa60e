/*
 * uint64_t vardelo_call_fetch_loop(const void* code, uint32_t passes)   -- cdecl, x86-32
 *
 * Enters the fetch loop with a near call and ECX = passes. The loop returns the end time's
 * low half in EAX and the start time's low half in EBX; EBX goes to EDX, so the C++ side gets
 * end in the low and start in the high half of the 64-bit result.
 *
 * The loop changes EAX, EBX, ECX, EDX, ESI and the flags; EBX, ESI, EDI and EBP are saved here
 * because the caller's code keeps values in them.
 */
        .text
        .globl  _vardelo_call_fetch_loop
        .p2align 4
_vardelo_call_fetch_loop:
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        pushl   %ebp
        movl    20(%esp), %eax          /* code: 4 saved registers + return address above it */
        movl    24(%esp), %ecx          /* passes */
        call    *%eax
        movl    %ebx, %edx              /* start time */
        popl    %ebp
        popl    %edi
        popl    %esi
        popl    %ebx
        ret
