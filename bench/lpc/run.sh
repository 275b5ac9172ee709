#!/usr/bin/env bash
# Programming through the LPC boot ROM against the simulator, with the serial line and
# the flash times modelled: 64 KiB (or the given size) into a simulated LPC2148 at 115200
# baud, by vorlo and, side by side on the same simulator, by lpc21isp; then a simulated
# LPC1768 at 64 KiB and 256 KiB: vorlo's fast mode at 921600 baud (the routine's load at
# 115200 included, the routine itself running on the simulator's emulated Cortex-M3)
# beside lpc21isp at 115200.
#
# The minimum of a run is what the line and the flash cannot go below: the bytes the
# host sent at the line's byte rate, plus the erase and copy times the simulator models
# (an erase command 400 ms on the LPC21xx, 100 ms on the LPC17xx; 1 ms per 256 bytes
# copied or written). The ratio is minimum / measured (1.0 would be a perfect run).
# Usage: bench/lpc/run.sh [build-dir] [size-in-KiB]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
kib="${2:-64}"
source "$root/bench/common.sh"
random_hex "$kib" "$work/image.hex"

# run NAME PART BAUD COMMAND...: the command gets the terminal's path as $PORT.
run() {
  local name=$1 part=$2 baud=$3
  shift 3
  sim_run --protocol=lpc_isp --part="$part" --baud=115200 -- "$@"
  python3 - "$name" "$part" "$work/wire.log" "$start" "$end" "$root/bench" <<'PY'
import sys
sys.path.insert(0, sys.argv[6])
from lpc_wire import minimum_seconds
name, part, log, start, end = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4]), float(sys.argv[5])
minimum = minimum_seconds(log, part.startswith("LPC21") or part.startswith("LPC22"))
measured = end - start
print(f"{name:<28} {minimum:>9.3f} {measured:>10.3f} {minimum / measured:>6.3f}")
PY
}

printf '%-28s %9s %10s %6s\n' run minimum_s measured_s ratio
run "vorlo LPC2148 115200" LPC2148 115200 \
    "$build/vorlo" --driver=LPC2000_ISP,12000 --connection=PORT,115200,8,N,1 \
    --importcode="$work/image.hex" --erase --write
if command -v lpc21isp > /dev/null; then
  run "lpc21isp LPC2148 115200" LPC2148 115200 \
      lpc21isp -wipe -donotstart "$work/image.hex" PORT 115200 12000
fi
for size in 64 256; do
  random_hex "$size" "$work/image$size.hex"
  run "vorlo fast LPC1768 ${size}K" LPC1768 115200 \
      "$build/vorlo" --driver=LPC2000_ISP,12000,921600 --connection=PORT,115200,8,N,1 \
      --importcode="$work/image$size.hex" --erase --write
  if command -v lpc21isp > /dev/null; then
    run "lpc21isp LPC1768 ${size}K" LPC1768 115200 \
        lpc21isp -wipe -donotstart "$work/image$size.hex" PORT 115200 12000
  fi
done
