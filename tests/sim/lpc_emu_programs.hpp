// Small target programs for vorlo-sim's emulated LPC CPU, assembled with GNU as
// (arm-none-eabi-as -mcpu=arm7tdmi, and the Cortex-M3 one with .cpu cortex-m3). Each
// program's source is given in short, `;` separating instructions, `@` comments.
#pragma once

#include "sim/sim_process.hpp"

namespace lpc_emu {

// Offset of the UART divisor-latch word in both programs (a test may patch it).
constexpr size_t kDivisorOffset = 4;

// ARM7, for an LPC2134 with a 10 MHz crystal, loaded and started (ARM) at 0x40000200.
// Runs the CPU at 50 MHz from the PLL and UART0 at 50 MHz / (16 x 27) = 115741 baud,
// then answers each byte: 'E' prepares and erases sector 1, 'C' prepares sector 1 and
// copies 256 bytes from RAM 0x40001000 to flash 0x1000 (each answered with the IAP's
// status), 'R' loops for ever, 'U' reads 0x40004000 (past the 16 KiB of RAM), any other
// byte is echoed.
//   start: b main; divisor: .word 27
//   main:  ldr sp, =0x40003F00; ldr r0, =0xE01FC000
//          mov r1, #0x24; str r1, [r0, #0x84]           @ PLLCFG: M 5, P 2
//          mov r1, #1; str r1, [r0, #0x80]; bl feed      @ PLLCON: enable
//   lock:  ldr r1, [r0, #0x88]; tst r1, #0x400; beq lock @ PLLSTAT PLOCK
//          mov r1, #3; str r1, [r0, #0x80]; bl feed      @ connect
//          mov r1, #1; str r1, [r0, #0x100]              @ VPBDIV: PCLK = CCLK
//          ldr r0, =0xE002C000; ldr r1, [r0]; bic r1, r1, #0xF; orr r1, r1, #5; str r1, [r0]
//          ldr r0, =0xE000C000; mov r1, #0x83; strb r1, [r0, #0xC]
//          ldr r1, divisor; strb r1, [r0]; mov r1, r1, lsr #8; strb r1, [r0, #4]
//          mov r1, #3; strb r1, [r0, #0xC]; mov r1, #7; strb r1, [r0, #8]
//   loop:  bl getc; cmp r0, #'E'; adreq r0, cmd_erase; beq prepared
//          cmp r0, #'C'; adreq r0, cmd_copy; beq prepared; cmp r0, #'R'; beq .
//          cmp r0, #'U'; ldreq r1, =0x40004000; ldreq r0, [r1]; bl putc; b loop
//   prepared: mov r4, r0; adr r0, cmd_prepare; bl iap; cmp r0, #0; moveq r0, r4; bleq iap
//          bl putc; b loop
//   feed:  mov r2, #0xAA; str r2, [r0, #0x8C]; mov r2, #0x55; str r2, [r0, #0x8C]; bx lr
//   getc:  ldr r2, =0xE000C000; 1: ldrb r3, [r2, #0x14]; tst r3, #1; beq 1b; ldrb r0, [r2]; bx lr
//   putc:  ldr r2, =0xE000C000; 1: ldrb r3, [r2, #0x14]; tst r3, #0x20; beq 1b; strb r0, [r2]; bx lr
//   iap:   stmfd sp!, {r4, lr}; ldr r1, =0x40002000; ldr r12, =0x7FFFFFF1
//          mov lr, pc; bx r12; ldr r0, =0x40002000; ldr r0, [r0]; ldmfd sp!, {r4, pc}
//   cmd_prepare: .word 50, 1, 1; cmd_erase: .word 52, 1, 1, 50000
//   cmd_copy: .word 51, 0x1000, 0x40001000, 256, 50000; .ltorg
inline Bytes Arm7Routine() {
    return HexBytes(
        "000000EA1B00000060D19FE560019FE52410A0E3841080E50110A0E3801080E52D0000EB881090E5"
        "010B11E3FCFFFF0A0310A0E3801080E5270000EB0110A0E3001180E52C019FE5001090E50F10C1E3"
        "051081E3001080E51C019FE58310A0E30C10C0E568101FE50010C0E52114A0E10410C0E50310A0E3"
        "0C10C0E50710A0E30810C0E5190000EB450050E3B8008F020900000A430050E3BC008F020600000A"
        "520050E3FEFFFF0A550050E3CC109F0500009105130000EBF1FFFFEA0040A0E178008FE2150000EB"
        "000050E30400A0011200000B0B0000EBE9FFFFEAAA20A0E38C2080E55520A0E38C2080E51EFF2FE1"
        "84209FE51430D2E5010013E3FCFFFF0A0000D2E51EFF2FE16C209FE51430D2E5200013E3FCFFFF0A"
        "0000C2E51EFF2FE110402DE958109FE53AC1E0E30FE0A0E11CFF2FE148009FE5000090E51080BDE8"
        "32000000010000000100000034000000010000000100000050C30000330000000010000000100040"
        "0001000050C30000003F004000C01FE000C002E000C000E00040004000200040");
}

// ARM7 watchdog-reset routine, loaded and started (ARM) at 0x400002F0.
//   ldr r0, =0xE0000000; mov r1, #0xFF; str r1, [r0, #4]   @ WDTC
//   mov r1, #3; str r1, [r0]                               @ WDMOD: WDEN | WDRESET
//   mov r1, #0xAA; str r1, [r0, #8]; mov r1, #0x55; str r1, [r0, #8]; b .
inline Bytes Arm7WatchdogReset() {
    return HexBytes("0E02A0E3FF10A0E3041080E50310A0E3001080E5AA10A0E3081080E55510A0E3081080E5FEFFFFEA");
}

// Cortex-M3, for an LPC1768 with a 12 MHz crystal, loaded at 0x10000200, started (Thumb)
// at 0x10000201. Starts the main oscillator, runs PLL0 at 288 MHz and the CPU at 48 MHz,
// UART0 at 48 MHz / (16 x 3 x (1 + 1/12)) = 923077 baud, then answers 'E' and 'C' as the
// ARM7 program (RAM 0x10001000, clock 48000 kHz); 'S' requests a system reset, 'X' jumps
// to the flash at 0x1001; any other byte is echoed.
//   start: b main; .align 2; divisor: .word 3
//   main:  ldr r0, =0x10007F00; mov sp, r0; ldr r0, =0x400FC000
//          movs r1, #0x20; str r1, [r0, #0x1A0]                   @ SCS: OSCEN
//       1: ldr r1, [r0, #0x1A0]; tst r1, #0x40; beq 1b            @ OSCSTAT
//          movs r1, #1; str r1, [r0, #0x10C]                      @ CLKSRCSEL: main oscillator
//          movs r1, #11; str r1, [r0, #0x84]                      @ PLL0CFG: M 12, N 1
//          movs r1, #1; str r1, [r0, #0x80]; bl feed              @ enable
//          movs r1, #5; str r1, [r0, #0x104]                      @ CCLKCFG: divide by 6
//          movs r1, #0x40; str r1, [r0, #0x1A8]                   @ PCLKSEL0: UART0 at CCLK
//       2: ldr r1, [r0, #0x88]; tst r1, #0x4000000; beq 2b        @ PLOCK
//          movs r1, #3; str r1, [r0, #0x80]; bl feed              @ connect
//          ldr r0, =0x4002C000; ldr r1, [r0]; bic r1, #0xF0; orr r1, #0x50; str r1, [r0]
//          ldr r0, =0x4000C000; movs r1, #0x83; strb r1, [r0, #0xC]
//          ldr r1, divisor; strb r1, [r0]; lsrs r1, #8; strb r1, [r0, #4]
//          movs r1, #0xC1; strb r1, [r0, #0x28]; movs r1, #3; strb r1, [r0, #0xC]
//   loop:  bl getc; cmp r0, #'E'; beq erase; cmp r0, #'C'; beq copy; cmp r0, #'S'; beq sysreset
//          cmp r0, #'X'; beq user; bl putc; b loop
//   erase: adr r0, cmd_erase; b prepared; copy: adr r0, cmd_copy
//   prepared: mov r4, r0; adr r0, cmd_prepare; bl iap; cbnz r0, 3f; mov r0, r4; bl iap
//       3: bl putc; b loop
//   sysreset: ldr r0, =0xE000ED0C; ldr r1, =0x05FA0004; str r1, [r0]; b .
//   user:  ldr r0, =0x1001; bx r0
//   feed, getc, putc as the ARM7 program (at 0x400FC08C, 0x4000C000)
//   iap:   push {r4, lr}; ldr r1, =0x10002000; ldr r4, =0x1FFF1FF1; blx r4
//          ldr r0, =0x10002000; ldr r0, [r0]; pop {r4, pc}
//   .align 2; cmd_prepare: .word 50, 1, 1; cmd_erase: .word 52, 1, 1, 48000
//   cmd_copy: .word 51, 0x1000, 0x10001000, 256, 48000; .ltorg
inline Bytes CortexM3Routine() {
    return HexBytes(
        "02E000BF030000004748854647482021C0F8A011D0F8A01111F0400FFAD00121C0F80C110B21C0F8"
        "84100121C0F8801000F046F80521C0F804114021C0F8A811D0F8881011F0806FFAD00321C0F88010"
        "00F036F83648016821F0F00141F0500101603448832101735FF868100170090A0171C12180F82810"
        "0321017300F027F8452808D0432808D0532812D0582814D000F024F8F2E71BA000E01EA0044616A0"
        "00F023F810B9204600F01FF800F016F8E4E7214821490160FEE741F201000047AA22C0F88C205522"
        "C0F88C207047194A137D13F0010FFBD010787047154A137D13F0200FFBD01070704710B51449154C"
        "A0471348006810BD32000000010000000100000034000000010000000100000080BB000033000000"
        "00100000001000100001000080BB0000007F001000C00F4000C0024000C000400CED00E00400FA05"
        "00200010F11FFF1F");
}

}  // namespace lpc_emu
