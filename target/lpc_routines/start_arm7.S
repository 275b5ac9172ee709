/* Entry of the ARM7 routines, in ARM state, as the boot ROM's go command starts it:
 * supervisor mode with IRQ and FIQ masked (the routine polls, and flash is unreadable
 * while the IAP writes it), a stack of its own, then the C code. */
    .syntax unified
    .arm
    .section .entry, "ax", %progbits
    .global _start
    .type _start, %function
_start:
    msr     cpsr_c, #0xD3
    ldr     sp, =__stack_top
    bl      lpc_main
1:  b       1b
    .ltorg
