#!/usr/bin/env bash
# MODBUS programming against the simulator with the line modelled: 64 KiB (or the given
# size) at 115200 baud. The minimum is what the line cannot go below on a Modbus RTU
# bus: every byte both ways, the 3.5-character silence (1750 us above 19200 baud) that
# the bus needs before every frame, the answer's and the next request's, and the flash
# times the simulator models (erase 100 ms, 1 ms per written block).
# Usage: bench/modbus/run.sh [build-dir] [size-in-KiB]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
kib="${2:-64}"
source "$root/bench/common.sh"
head -c $((kib * 1024)) /dev/urandom > "$work/image.bin"
"$build/vorlo-sim" --protocol=modbus --baud=115200 --flash-size=1M --timeout=120 \
    --dump-bin="$work/memory.bin" --log="$work/wire.log" > "$work/sim.out" 2> "$work/sim.err" &
sim=$!
while ! grep -q . "$work/sim.out" 2>/dev/null; do sleep 0.01; done
port=$(head -1 "$work/sim.out")
start=$(date +%s.%N)
"$build/vorlo" --driver=MODBUS --connection="$port,115200,8,N,1" --format=BINARY \
    --importcode="$work/image.bin" --erase --write > /dev/null
end=$(date +%s.%N)
kill "$sim"; wait "$sim" || true
cmp -s "$work/image.bin" "$work/memory.bin" || { echo "memory differs from the image" >&2; exit 1; }
python3 - "$work/wire.log" "$start" "$end" <<'PY'
import sys
log, start, end = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
bytes_both, exchanges, writes, erases = 0, 0, 0, 0
for line in open(log):
    f = line.split()
    if len(f) > 2 and f[1] in ("H>T", "T>H"):
        bytes_both += len(f) - 2
    elif len(f) > 2 and f[1] == "#":
        text = " ".join(f[2:])
        if text.startswith("modbus: write "):
            writes += 1
        if text.startswith("modbus: erase"):
            erases += 1
        if text.startswith("modbus: connect") or text.startswith("modbus: erase") or text.startswith("modbus: write "):
            exchanges += 1
minimum = bytes_both * 10 / 115200 + exchanges * 2 * 0.00175 + erases * 0.1 + writes * 0.001
measured = end - start
print(f"{'run':<24} {'minimum_s':>9} {'measured_s':>10} {'ratio':>6}")
print(f"{'vorlo MODBUS 115200':<24} {minimum:>9.3f} {measured:>10.3f} {minimum / measured:>6.3f}")
PY
