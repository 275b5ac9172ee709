#!/usr/bin/env bash
# Fast mode at the limit of the line: a firmware of realistic content (bench/fast/firmware,
# built here with arm-none-eabi-gcc and newlib: some 210 KiB of the C library's code,
# tables and strings) programmed into a simulated LPC1768 whose boot ROM starts at
# 115200 baud, with the line and the flash timed and the RAM routine running on the
# simulator's emulated Cortex-M3. In the same run: lpc21isp through the boot ROM, vorlo's
# fast mode at 921600 and 3000000 baud, without and with --compress.
#
# Each run starts a fresh simulator and ends with the flash compared with the image.
# Printed per run: seconds, lpc21isp's time over it ("x lpc21isp"), and for the runs
# without --compress the ratio of the line's and the flash's minimum to the time taken
# (as bench/lpc does; 1.0 would be a perfect run). The goals: 12 x lpc21isp at 921600
# and 20 x at 3 Mbaud with --compress.
# Usage: bench/fast/run.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$root/bench/common.sh"
for tool in arm-none-eabi-gcc arm-none-eabi-objcopy lpc21isp; do
  command -v "$tool" > /dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

fast_firmware

# run NAME COMMAND...: the command gets the terminal's path for PORT; prints the seconds.
run() {
  local name=$1
  shift
  sim_run --protocol=lpc_isp --part=LPC1768 --baud=115200 -- "$@"
  python3 - "$name" "$work/wire.log" "$work/flash.bin" "$work/firmware.bin" "$start" "$end" "${reference:-0}" "$root/bench" <<'PY'
import sys
sys.path.insert(0, sys.argv[8])
from lpc_wire import minimum_seconds
name, log, flash, image, start, end, reference = sys.argv[1:8]
measured = float(end) - float(start)
got, want = open(flash, "rb").read(), open(image, "rb").read()
# The vector checksum (word 7) is the programmer's to set.
if got[32:len(want)] != want[32:]:
    sys.exit(f"{name}: the flash does not hold the image")
minimum = minimum_seconds(log)
times = float(reference) / measured if float(reference) else 1.0
print(f"{name:<34} {measured:>8.3f} {times:>11.1f} {minimum / measured:>7.3f}")
with open(sys.argv[2] + ".seconds", "w") as out:
    out.write(f"{measured}\n")
PY
}

printf '%-34s %8s %11s %7s\n' run seconds "x lpc21isp" ratio
reference=0
run "lpc21isp 115200" lpc21isp -wipe -donotstart "$work/firmware.hex" PORT 115200 12000
reference=$(cat "$work/wire.log.seconds")
for baud in 921600 3000000; do
  run "vorlo fast $baud" "$build/vorlo" --driver=LPC2000_ISP,12000,$baud \
      --connection=PORT,115200,8,N,1 --importcode="$work/firmware.hex" --erase --write
  run "vorlo fast $baud --compress" "$build/vorlo" --compress --driver=LPC2000_ISP,12000,$baud \
      --connection=PORT,115200,8,N,1 --importcode="$work/firmware.hex" --erase --write
done
