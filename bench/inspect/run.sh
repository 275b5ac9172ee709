#!/usr/bin/env bash
# READ and VERIFY against the simulator with the serial line and the flash times
# modelled, timed from the wire log (the connect is left out):
#   - through the LPC boot ROM: READ of 64 KiB from a simulated LPC2148 at 115200 baud;
#   - LPC1768 fast mode: READ and VERIFY of 64 KiB through Vorlo's own routine at 921600
#     (the routine running on the simulator's emulated Cortex-M3);
#   - MSP430: VERIFY of 32 KiB by CRC Check beside the write of the same image.
# The minimum of a read is every byte on the line, both ways, at its rate (the target's
# UU lines or data and the host's requests and checksum answers); the ratio is minimum /
# measured (1.0 would be a perfect run).
# Usage: bench/inspect/run.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
source "$root/bench/common.sh"
random_hex 64 "$work/image.hex"
random_hex 32 "$work/msp.hex" $((0x10000 - 32 * 1024))

# sim NAME SIM-ARGS...: starts vorlo-sim with a wire log; PORT is its terminal.
sim() {
  local name=$1
  shift
  rm -f "$work/sim.out"
  "$build/vorlo-sim" "$@" --timeout=120 --log="$work/$name.log" > "$work/sim.out" 2> "$work/sim.err" &
  SIM=$!
  while ! grep -q . "$work/sim.out" 2>/dev/null; do sleep 0.01; done
  PORT=$(head -1 "$work/sim.out")
}
stop() { kill "$SIM"; wait "$SIM" || true; }

# phase LOG BITS START [END]: seconds and line time of a span of the log (phases.py).
phase() { python3 "$root/bench/inspect/phases.py" "$@"; }

report() {  # NAME MEASURED MINIMUM [NOTE]
  printf '%-34s %9s %10s %6s  %s\n' "$1" "$3" "$2" "$(python3 -c "print(f'{$3 / $2:.3f}')")" "${4:-}"
}

printf '%-34s %9s %10s %6s\n' run minimum_s measured_s ratio

# The boot ROM: the image is there already.
sim rom --protocol=lpc_isp --part=LPC2148 --baud=115200 --load="$work/image.hex"
"$build/vorlo" --driver=LPC2000_ISP,12000 --connection="$PORT,115200,8,N,1" --read=0x40-0xFFFF > "$work/run.out"
stop
read -r measured minimum < <(phase "$work/rom.log" 10 rom-read)
report "ROM READ 64K LPC2148 115200" "$measured" "$minimum" "(the vectors' 64 bytes are not read)"

# Fast mode.
sim fast --protocol=lpc_isp --part=LPC1768 --baud=115200 --load="$work/image.hex"
"$build/vorlo" --driver=LPC2000_ISP,12000,921600 --connection="$PORT,115200,8,N,1" --read=0-0xFFFF > "$work/run.out"
stop
read -r measured minimum < <(phase "$work/fast.log" 10 routine-R)
report "fast READ 64K LPC1768 921600" "$measured" "$minimum"
# VERIFY after the write of the same run (the image then carries its vector checksum).
sim fastv --protocol=lpc_isp --part=LPC1768 --baud=115200
"$build/vorlo" --driver=LPC2000_ISP,12000,921600 --connection="$PORT,115200,8,N,1" --importcode="$work/image.hex" \
    --erase --write --verify > "$work/run.out"
stop
read -r measured minimum < <(phase "$work/fastv.log" 10 routine-S)
report "fast VERIFY 64K LPC1768 921600" "$measured" "$minimum" "(by CRC: the goal is under 0.3 s)"

# MSP430: the write's RX Data Blocks (each read back by its CRC) beside the verify's
# CRC Checks of the same run.
sim msp --protocol=msp430_bsl --line-model
"$build/vorlo" --driver=MSP430BSL --connection="$PORT,115200,8,E,1" --importcode="$work/msp.hex" --erase --write \
    --verify > "$work/run.out"
stop
read -r written _ < <(phase "$work/msp.log" 11 bsl-rx bsl-crc)
read -r measured minimum < <(phase "$work/msp.log" 11 bsl-crc)
report "MSP430 VERIFY 32K 115200" "$measured" "$minimum" \
    "(write $written s: $(python3 -c "print(f'{100 * $measured / $written:.1f}')") % of it)"
