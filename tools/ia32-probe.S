# Answers whether this kernel runs 32-bit x86 user code: far-calls a `lret` through the
# 32-bit user code selector 0x23. Exits 0 when the call returns; dies with SIGSEGV (or SIGBUS,
# where the segment is marked not present) where the kernel has no IA-32 user mode. Any other
# end is no answer (tools/ia32.sh). A plain x86-64 program, so its answer does not depend on
# whatever runs i386 ELF files (an emulator registered through binfmt_misc would fool an
# i386 probe).
    .text
    .globl _start
_start:
    lea stack_top(%rip), %rsp      # compatibility mode uses ESP: the stack must lie below 4 GiB
    lea target(%rip), %rax
    mov %eax, farptr(%rip)
    lcall *farptr(%rip)
    mov $60, %eax                  # exit(0)
    xor %edi, %edi
    syscall
    .code32
target:
    lret
    .code64
    .data
farptr:
    .long 0
    .word 0x23
    .bss
    .align 16
    .space 4096
stack_top:
    .section .note.GNU-stack,"",@progbits
