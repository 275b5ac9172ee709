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
  rm -f "$work/sim.out" "$work/wire.log" "$work/flash.bin"
  "$build/vorlo-sim" --protocol=lpc_isp --part=LPC1768 --baud=115200 --timeout=120 \
      --log="$work/wire.log" --dump-bin="$work/flash.bin" > "$work/sim.out" 2> "$work/sim.err" &
  local sim=$!
  while ! grep -q . "$work/sim.out" 2>/dev/null; do sleep 0.01; done
  PORT=$(head -1 "$work/sim.out")
  local start end
  start=$(date +%s.%N)
  "${@//PORT/$PORT}" > "$work/run.out" 2>&1 || { cat "$work/run.out" >&2; kill "$sim"; exit 1; }
  end=$(date +%s.%N)
  kill "$sim"; wait "$sim" || true
  python3 - "$name" "$work/wire.log" "$work/flash.bin" "$work/firmware.bin" "$start" "$end" "${reference:-0}" <<'PY'
import sys
name, log, flash, image, start, end, reference = sys.argv[1:8]
measured = float(end) - float(start)
got, want = open(flash, "rb").read(), open(image, "rb").read()
# The vector checksum (word 7) is the programmer's to set.
if got[32:len(want)] != want[32:]:
    sys.exit(f"{name}: the flash does not hold the image")
seconds, rate, erase_ms, flash_bytes = 0.0, 115200, 0, 0
for line in open(log):
    f = line.split()
    if len(f) < 2:
        continue
    if f[1] == "H>T":
        seconds += (len(f) - 2) * 10 / rate
    elif f[1] == "#":
        text = " ".join(f[2:])
        if "line rate" in text and "from here on" in text:
            rate = int(text.split()[2])
        if text.startswith("lpc_isp: erase") or text.startswith("lpc_isp: emu: IAP command 52"):
            erase_ms += 100
        if text.startswith("lpc_isp: copy "):
            flash_bytes += int(text.split()[2])
        if text.startswith("lpc_isp: emu: IAP command 51"):
            flash_bytes += int(text.split("(")[1].split(",")[2])
minimum = seconds + erase_ms / 1000 + flash_bytes / 256 / 1000
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
