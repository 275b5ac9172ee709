#!/usr/bin/env bash
# Why --compress packs blocks the way it does: on a firmware of realistic content (the
# image bench/fast builds), each 4 KiB block packed by Vorlo's packer and by zlib's raw
# deflate at level 9, and each decoder built for the Cortex-M3 as the RAM routines are
# and run on an emulated CPU: the ratio, the decoder's size in the routine, and its work
# per byte (instructions, about the cycles of an LPC17xx running from RAM at 48 MHz).
# Usage: bench/fast/formats/run.sh [firmware.bin]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
firmware="${1:-}"
if [ -z "$firmware" ]; then
  arm-none-eabi-gcc -mcpu=cortex-m3 -mthumb -Os -D_GNU_SOURCE -ffunction-sections -fdata-sections \
    -Wl,--gc-sections --specs=nosys.specs -nostartfiles -T "$root/bench/fast/firmware/lpc1768.ld" \
    "$root/bench/fast/firmware"/*.c -lm -o "$work/firmware.elf"
  arm-none-eabi-objcopy -O binary "$work/firmware.elf" "$work/firmware.bin"
  firmware="$work/firmware.bin"
fi
flags=(-mcpu=cortex-m3 -mthumb -Os -std=c11 -ffreestanding -fno-builtin -ffunction-sections
       -fno-tree-loop-distribute-patterns -Wall -Wextra)
for f in inflate unpack_entry; do
  arm-none-eabi-gcc "${flags[@]}" -c "$here/$f.c" -o "$work/$f.o"
  size=$(arm-none-eabi-size -A "$work/$f.o" | awk '$1 ~ /^\.(text|rodata)/ { s += $2 } END { print s }')
  echo "decoder code, $f: $size bytes"
done
arm-none-eabi-gcc -mcpu=cortex-m3 -mthumb -nostdlib -nostartfiles -Wl,-Ttext=0x10000000 -Wl,-e,unpack_block \
  -Wl,--gc-sections -Wl,--undefined=inflate_block "$work/unpack_entry.o" "$work/inflate.o" -o "$work/decoders.elf"
arm-none-eabi-objcopy -O binary "$work/decoders.elf" "$work/decoders.bin"
entry() { arm-none-eabi-nm "$work/decoders.elf" | awk -v s="$1" '$3 == s { print "0x" $1 }'; }
g++ -O2 -std=c++20 -I"$root/src" "$here/measure.cpp" "$root/src/drivers/lpc/pack.cpp" -o "$work/measure" -lunicorn -lz
echo "firmware: $(stat -c %s "$firmware") bytes"
"$work/measure" "$firmware" "$work/decoders.bin" 0x10000000 "$(entry unpack_block)" "$(entry inflate_block)"
