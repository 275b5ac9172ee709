#!/usr/bin/env bash
# MSP430BSL programming against the simulator with the line (8E1: 11 bits a byte) and
# the flash times modelled: 32 KiB (or the given size) at 115200 baud after the BSL's
# 9600-baud start. The minimum is every byte both ways at the rate it went at (a BSL
# exchange is a request and its answer, one after the other), plus the flash times the
# simulator models (mass erase 32 ms, 75 us per 16-bit word programmed).
# Usage: bench/msp430/run.sh [build-dir] [size-in-KiB]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
kib="${2:-32}"
source "$root/bench/common.sh"
# Up to the top of the lower 64 KiB, vectors included.
random_hex "$kib" "$work/image.hex" $((0x10000 - kib * 1024))
"$build/vorlo-sim" --protocol=msp430_bsl --line-model --timeout=120 \
    --log="$work/wire.log" > "$work/sim.out" 2> "$work/sim.err" &
sim=$!
while ! grep -q . "$work/sim.out" 2>/dev/null; do sleep 0.01; done
port=$(head -1 "$work/sim.out")
start=$(date +%s.%N)
"$build/vorlo" --driver=MSP430BSL --connection="$port,115200,8,E,1" \
    --importcode="$work/image.hex" --erase --write > /dev/null
end=$(date +%s.%N)
kill "$sim"; wait "$sim" || true
python3 - "$work/wire.log" "$start" "$end" "$kib" <<'PY'
import sys
log, start, end, kib = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4])
seconds, rate = 0.0, 9600
for line in open(log):
    f = line.split()
    if len(f) > 2 and f[1] in ("H>T", "T>H"):
        seconds += (len(f) - 2) * 11 / rate
    elif len(f) > 2 and f[1] == "#" and "from here on" in line:
        rate = int(f[4])
minimum = seconds + 0.032 + kib * 1024 / 2 * 75e-6
measured = end - start
print(f"{'run':<24} {'minimum_s':>9} {'measured_s':>10} {'ratio':>6}")
print(f"{'vorlo MSP430BSL 115200':<24} {minimum:>9.3f} {measured:>10.3f} {minimum / measured:>6.3f}")
PY
