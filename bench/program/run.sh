#!/usr/bin/env bash
# Programming throughput against the simulator with the serial line modelled at the
# connection's baud rate (every byte delayed by 10 bit times, both ways).
# Prints, per baud rate, the physical minimum (bytes the protocol must move over the
# line divided by the byte rate), the measured wall time of the whole vorlo run, and
# their ratio. Usage: bench/program/run.sh [build-dir] [size-in-KiB] [block-size]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
kib="${2:-256}"
block="${3:-256}"
source "$root/bench/common.sh"
head -c $((kib * 1024)) /dev/urandom > "$work/image.bin"

python3 - "$kib" "$block" <<'PY' > "$work/minimum"
import sys
kib, block = int(sys.argv[1]), int(sys.argv[2])
size = kib * 1024
blocks = -(-size // block)
sent = 1 + 1 + blocks * (7 + 2) + size   # 'C', 'I', the frames
received = 1 + 5 + blocks                # ACK, ACK + 4 info bytes, one ACK per block
print(sent + received)
PY
bytes=$(cat "$work/minimum")

printf '%-8s %10s %12s %12s %7s\n' baud bytes minimum_s measured_s ratio
for baud in 115200 921600; do
  rm -f "$work/sim.out"
  "$build/vorlo-sim" --baud="$baud" --block-size="$block" --flash-size=16M --timeout=120 \
      --dump-bin="$work/memory.bin" > "$work/sim.out" 2> "$work/sim.err" &
  sim=$!
  while ! grep -q . "$work/sim.out" 2>/dev/null; do sleep 0.01; done
  port=$(head -1 "$work/sim.out")
  start=$(date +%s.%N)
  "$build/vorlo" --driver=GEN_IAP --connection="$port,$baud,8,N,1" --format=BINARY \
      --importcode="$work/image.bin" --write > /dev/null
  end=$(date +%s.%N)
  kill "$sim"; wait "$sim" || true
  cmp -s "$work/image.bin" "$work/memory.bin" || { echo "memory differs from the image" >&2; exit 1; }
  python3 - "$baud" "$bytes" "$start" "$end" <<'PY'
import sys
baud, n, start, end = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4])
minimum = n / (baud / 10)
measured = end - start
print(f"{baud:<8} {n:>10} {minimum:>12.3f} {measured:>12.3f} {minimum / measured:>7.3f}")
PY
done
