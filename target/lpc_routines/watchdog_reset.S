/* Watchdog reset of an LPC2xxx (ARM7), loaded at 0x400002F0 and started in ARM state
 * by the boot ROM's go command. It lets the boot ROM's answer to the go command leave
 * UART0, then arms the watchdog in reset mode with the shortest time-out and feeds it
 * once to start it. After a watchdog reset the boot ROM ignores its ISP entry pin and
 * starts the user code if it is valid. ARMv4T instructions, 56 bytes with padding. */
    .syntax unified
    .arm
    .section .entry, "ax", %progbits
    .global _start
    .type _start, %function
_start:
    msr     cpsr_c, #0xD3           @ supervisor mode, IRQ and FIQ masked: no access
                                    @ may come between the two feed writes
    mov     r0, #0xE0000000         @ watchdog: WDMOD +0, WDTC +4, WDFEED +8
    add     r2, r0, #0xC000         @ UART0 at 0xE000C000
1:  ldrb    r1, [r2, #0x14]         @ U0LSR
    tst     r1, #0x40               @ TEMT: transmitter idle
    beq     1b
    mov     r1, #0x03               @ WDMOD = WDEN | WDRESET
    mov     r2, #0xFF               @ WDTC = 0xFF, the shortest time-out
    mov     r3, #0xAA               @ WDFEED = 0xAA
    stmia   r0, {r1-r3}             @ in that order: WDMOD, WDTC, WDFEED
    mov     r1, #0x55
    str     r1, [r0, #8]            @ WDFEED = 0x55: the watchdog runs
2:  b       2b                      @ wait for the reset
