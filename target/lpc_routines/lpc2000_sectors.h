/* The flash of the LPC213x and LPC23xx/24xx parts, 512 KiB at most: 8 sectors of 4 KiB,
 * 14 of 32 KiB, 6 of 4 KiB (the boot block follows them). Smaller parts have the first
 * sectors of the same map. */
#ifndef LPC2000_SECTORS_H
#define LPC2000_SECTORS_H

#define FLASH_LAST_SECTOR 27u

static uint32_t flash_sector_start(uint32_t sector)
{
    if (sector <= 8) return sector << 12;
    if (sector <= 22) return 0x8000 + ((sector - 8) << 15);
    return 0x78000 + ((sector - 22) << 12);
}

static uint32_t flash_sector(uint32_t address)
{
    if (address < 0x8000) return address >> 12;
    if (address < 0x78000) return 8 + ((address - 0x8000) >> 15);
    return 22 + ((address - 0x78000) >> 12);
}

#endif
