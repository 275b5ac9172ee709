/* Start-up of the benchmark firmware: the vector table (the core's exceptions and the
 * LPC17xx's 35 interrupts), the data copied from flash, the rest of RAM zeroed. */
#include <stdint.h>
#include <string.h>

extern uint32_t __data_start[], __data_end[], __data_load[], __bss_start[], __bss_end[], __stack_top[];
int main(void);
void reset_handler(void);

__attribute__((noreturn)) static void idle_handler(void)
{
    for (;;) {
    }
}

void reset_handler(void)
{
    memcpy(__data_start, __data_load, (size_t)((char *)__data_end - (char *)__data_start));
    memset(__bss_start, 0, (size_t)((char *)__bss_end - (char *)__bss_start));
    main();
    idle_handler();
}

void _exit(int code)
{
    (void)code;
    idle_handler();
}

__attribute__((section(".vectors"), used)) static void (*const vectors[16 + 35])(void) = {
    [0] = (void (*)(void))__stack_top,
    [1] = reset_handler,
    [2 ... 16 + 34] = idle_handler,
};
