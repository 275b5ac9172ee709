# Shared by the benchmark scripts: the build they run, a work directory, and test data.
# Source it after setting `root`; it reads the build directory from $1.

# build: the given build directory, else build-bench, built in Release when its
# binaries are missing.
build="${1:-$root/build-bench}"
if [ ! -x "$build/vorlo" ] || [ ! -x "$build/vorlo-sim" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORLO_TESTS=OFF > /dev/null
  cmake --build "$build" -j"$(nproc)" > /dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export HOME="$work" TMP="$work"

# random_hex KIB PATH [BASE]: KIB KiB of random data from BASE (default 0) as Intel HEX.
random_hex() {
  python3 - "$1" "$2" "${3:-0}" <<'PY'
import os, sys
size, path, base = int(sys.argv[1]) * 1024, sys.argv[2], int(sys.argv[3], 0)
data = os.urandom(size)
with open(path, "w") as f:
    upper = None
    for at in range(0, size, 16):
        a = base + at
        if a >> 16 != upper:
            upper = a >> 16
            f.write(":02000004%04X%02X\n" % (upper, (-(6 + (upper >> 8) + (upper & 0xFF))) & 0xFF))
        body = bytes([16, (a >> 8) & 0xFF, a & 0xFF, 0]) + data[at:at + 16]
        f.write(":" + body.hex().upper() + "%02X\n" % ((-sum(body)) & 0xFF))
    f.write(":00000001FF\n")
PY
}

# fast_firmware: the firmware of realistic content in bench/fast/firmware (the C library's
# code, tables and strings), built with arm-none-eabi-gcc and newlib for the LPC1768 as
# $work/firmware.elf, .hex and .bin.
fast_firmware() {
  local firmware="$root/bench/fast/firmware"
  arm-none-eabi-gcc -mcpu=cortex-m3 -mthumb -Os -D_GNU_SOURCE -Wall -ffunction-sections -fdata-sections \
    -Wl,--gc-sections --specs=nosys.specs -nostartfiles -T "$firmware/lpc1768.ld" "$firmware"/*.c -lm \
    -o "$work/firmware.elf"
  arm-none-eabi-objcopy -O ihex "$work/firmware.elf" "$work/firmware.hex"
  arm-none-eabi-objcopy -O binary "$work/firmware.elf" "$work/firmware.bin"
  echo "firmware: $(stat -c %s "$work/firmware.bin") bytes"
}

# sim_run SIM-ARGS... -- COMMAND...: starts vorlo-sim with a wire log ($work/wire.log) and
# a dump of its memory ($work/flash.bin), runs the command with PORT replaced by the
# simulator's terminal, and leaves the wall clock before and after in $start and $end.
sim_run() {
  local args=()
  while [ "$1" != "--" ]; do args+=("$1"); shift; done
  shift
  rm -f "$work/sim.out" "$work/wire.log" "$work/flash.bin"
  "$build/vorlo-sim" "${args[@]}" --timeout=120 --log="$work/wire.log" --dump-bin="$work/flash.bin" \
      > "$work/sim.out" 2> "$work/sim.err" &
  local sim=$!
  while ! grep -q '^/' "$work/sim.out" 2>/dev/null; do sleep 0.01; done
  PORT=$(head -1 "$work/sim.out")
  start=$(date +%s.%N)
  "${@//PORT/$PORT}" > "$work/run.out" 2>&1 || { cat "$work/run.out" >&2; kill "$sim"; exit 1; }
  end=$(date +%s.%N)
  kill "$sim"
  wait "$sim" || true
}
