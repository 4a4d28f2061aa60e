# One timed pass of the line-size probe, x86-32, cdecl (declared in kernels/line_probe.h).
#
#   uint64_t vardelo_line_probe_pass(const uint8_t* base, uint32_t lengthBytes, uint32_t strideBytes)
#
# Reads the byte at base, then every strideBytes further while the address stays below
# base + lengthBytes (at least one byte is read; lengthBytes must be nonzero), between two
# RDTSC. Returns the 64-bit tick difference in EDX:EAX. No serialising instruction: the probe
# compares passes with one another, and the cost of the counter reads is the same in each.

    .text
    .globl _vardelo_line_probe_pass
_vardelo_line_probe_pass:
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 16(%esp), %esi          # p = base
    movl 20(%esp), %edi
    addl %esi, %edi              # end = base + length
    movl 24(%esp), %ecx          # stride
    rdtsc
    movl %eax, %ebx              # start, low half
    pushl %edx                   # start, high half
1:  movzbl (%esi), %eax          # the touch; its value is not used
    addl %ecx, %esi
    cmpl %edi, %esi
    jb 1b                        # unsigned: the area lies below 4 GiB
    rdtsc
    subl %ebx, %eax
    popl %ebx
    sbbl %ebx, %edx              # end - start, 64-bit
    popl %edi
    popl %esi
    popl %ebx
    ret
