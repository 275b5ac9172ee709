/* Entry of the Cortex-M3 routine, in Thumb state, as the boot ROM's go command starts
 * it: interrupts masked (the routine polls, and flash is unreadable while the IAP
 * writes it), a stack of its own, then the C code. */
    .syntax unified
    .thumb
    .section .entry, "ax", %progbits
    .global _start
    .type _start, %function
    .thumb_func
_start:
    cpsid   i
    ldr     r0, =__stack_top
    mov     sp, r0
    bl      lpc_main
1:  b       1b
    .ltorg
