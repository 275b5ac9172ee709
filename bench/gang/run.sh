#!/usr/bin/env bash
# A gang of eight targets against one: simulated LPC1768 parts in fast mode (64 KiB each,
# the line and the flash modelled, the routine running on each simulator's emulated
# Cortex-M3), then GEN_IAP targets at 115200. Prints the time of one target alone, of a
# shell loop that starts one vorlo per port in the background, and of --gang, and the
# ratios to one target (the goal: at most 1.2).
# Usage: bench/gang/run.sh [build-dir] [targets]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
count="${2:-8}"
source "$root/bench/common.sh"
random_hex 64 "$work/image.hex"

# targets NAME SIM-ARGS...: starts vorlo-sim --count; PORTS holds the terminals.
targets() {
  local name=$1
  shift
  rm -f "$work/ports.txt"
  "$build/vorlo-sim" --count="$count" "$@" --timeout=300 > "$work/ports.txt" 2> "$work/sim.err" &
  SIM=$!
  while [ "$(wc -l < "$work/ports.txt" 2>/dev/null || echo 0)" -lt "$count" ]; do sleep 0.05; done
  mapfile -t PORTS < "$work/ports.txt"
}
stop() { kill "$SIM"; wait "$SIM" || true; }
now() { date +%s.%N; }

# case LABEL DRIVER BAUD SIM-ARGS...
case_() {
  local label=$1 driver=$2 baud=$3
  shift 3
  local one loop gang start
  targets one "$@"
  start=$(now)
  "$build/vorlo" --driver="$driver" --connection="${PORTS[0]},$baud,8,N,1" --importcode="$work/image.hex" \
      --erase --write > /dev/null
  one=$(python3 -c "print($(now) - $start)")
  stop
  targets loop "$@"
  start=$(now)
  for port in "${PORTS[@]}"; do
    "$build/vorlo" --driver="$driver" --connection="$port,$baud,8,N,1" --importcode="$work/image.hex" \
        --erase --write > /dev/null &
  done
  wait $(jobs -p | grep -v "^$SIM\$") 2>/dev/null || true
  loop=$(python3 -c "print($(now) - $start)")
  stop
  targets gang "$@"
  local list
  list=$(IFS=,; echo "${PORTS[*]}")
  start=$(now)
  "$build/vorlo" --driver="$driver" --connection="AUTO,$baud,8,N,1" --importcode="$work/image.hex" \
      --gang="$list" --erase --write > "$work/gang.out"
  gang=$(python3 -c "print($(now) - $start)")
  stop
  python3 - "$label" "$one" "$loop" "$gang" "$count" <<'PY'
import sys
label, one, loop, gang, n = sys.argv[1], float(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), sys.argv[5]
print(f"{label:<30} one {one:6.2f} s   {n} by a shell loop {loop:6.2f} s ({loop / one:.2f})   {n} by --gang {gang:6.2f} s ({gang / one:.2f})")
PY
}

case_ "LPC1768 fast mode 64K" LPC2000_ISP,12000,921600 115200 --protocol=lpc_isp --part=LPC1768 --baud=115200
case_ "GEN_IAP 64K at 115200" GEN_IAP 115200 --protocol=gen_iap --baud=115200
