#!/usr/bin/env bash
# UPDATE against a full write, on the fast-mode benchmark's firmware (bench/fast/firmware,
# built here with arm-none-eabi-gcc and newlib) and a simulated LPC1768 whose boot ROM
# starts at 115200 baud, line and flash timed, the routine on the emulated Cortex-M3.
# Per rate, without and with --compress: a full write (--erase --write) into a blank part;
# --update of the same image into the part as that write left it (nothing changed); and
# --update of the image with one byte changed in a 4 KiB and one in a 32 KiB sector.
# Each run starts a fresh simulator and ends with the flash compared with the image.
# The goal: the unchanged update takes at most 0.15 of the full write at the same settings.
# Usage: bench/update/run.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$root/bench/common.sh"
for tool in arm-none-eabi-gcc arm-none-eabi-objcopy; do
  command -v "$tool" > /dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

fast_firmware
# One byte changed in sector 5 (4 KiB) and one in sector 17 (32 KiB).
python3 - "$work/firmware.bin" "$work/changed.bin" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
for at in (0x5123, 0x18123):
    data[at] ^= 0xFF
open(sys.argv[2], "wb").write(data)
PY
arm-none-eabi-objcopy -I binary -O ihex "$work/changed.bin" "$work/changed.hex"

# run NAME LOAD IMAGE COMMANDS...: a fresh simulator holding LOAD (none: blank), vorlo
# with the image and the commands; prints the seconds and leaves the flash written in
# $work/written.hex.
run() {
  local name=$1 load=$2 image=$3
  shift 3
  local loadopt=()
  [ "$load" != none ] && loadopt=(--load="$load")
  rm -f "$work/written.hex"
  sim_run --protocol=lpc_isp --part=LPC1768 --baud=115200 "${loadopt[@]}" --dump="$work/written.hex" -- \
      "$build/vorlo" --connection=PORT,115200,8,N,1 --importcode="$image" "$@"
  python3 - "$name" "$work/flash.bin" "${image%.hex}.bin" "$start" "$end" "${full:-0}" "$work/run.out" <<'PY'
import sys
name, flash, image, start, end, full, out = sys.argv[1:8]
got, want = open(flash, "rb").read(), open(image, "rb").read()
# The vector checksum (word 7) is the programmer's to set.
if got[32:len(want)] != want[32:]:
    sys.exit(f"{name}: the flash does not hold the image")
measured = float(end) - float(start)
said = [l for l in open(out).read().replace("\r", "\n").splitlines() if l.startswith("Update:")]
ratio = f"{measured / float(full):.3f}" if float(full) else "1"
print(f"{name:<40} {measured:>8.3f} {ratio:>9}  {said[0] if said else ''}")
open(out + ".seconds", "w").write(f"{measured}\n")
PY
}

printf '%-40s %8s %9s\n' run seconds "of write"
for baud in 921600 3000000; do
  for compress in "" --compress; do
    settings="$baud${compress:+ $compress}"
    driver=(--driver=LPC2000_ISP,12000,$baud $compress)
    full=0
    run "write $settings" none "$work/firmware.hex" "${driver[@]}" --erase --write
    full=$(cat "$work/run.out.seconds")
    cp "$work/written.hex" "$work/held.hex"
    run "update $settings, unchanged" "$work/held.hex" "$work/firmware.hex" "${driver[@]}" --update
    run "update $settings, 2 sectors changed" "$work/held.hex" "$work/changed.hex" "${driver[@]}" --update
  done
done
