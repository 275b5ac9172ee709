#!/usr/bin/env bash
# Conversion benchmark: an 8 MiB image as Intel HEX with 16 data bytes per line (the
# way objcopy writes it) converted to S3 records by vorlo, srec_cat and objcopy.
# Prints the median wall time and peak memory of each tool and the ratios.
#   bench/convert/run.sh [runs]        VORLO=path/to/vorlo to use another build
set -euo pipefail
cd "$(dirname "$0")/../.."
RUNS=${1:-5}
SIZE=$((8 * 1024 * 1024))
if [ -z "${VORLO:-}" ]; then
  cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVORLO_TESTS=OFF > /dev/null
  cmake --build build-bench -j2 --target vorlo > /dev/null
  VORLO=build-bench/vorlo
fi
for tool in srec_cat objcopy /usr/bin/time; do
  command -v "$tool" > /dev/null || { echo "missing $tool (scripts/install-deps.sh)"; exit 1; }
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
# Deterministic pseudo-random data, placed where a Cortex-M flash starts.
python3 -c "import random,sys; random.seed(20260101); sys.stdout.buffer.write(random.randbytes($SIZE))" > "$WORK/data.bin"
objcopy -I binary -O ihex --change-addresses 0x08000000 "$WORK/data.bin" "$WORK/in.hex"
echo "input: $(stat -c %s "$WORK/in.hex") bytes of Intel HEX, $SIZE data bytes, $RUNS runs each"

declare -A TIME MEM
measure() {  # name, command...
  local name=$1; shift
  local times=() mems=()
  for _ in $(seq "$RUNS"); do
    /usr/bin/time -f "%e %M" -o "$WORK/time.txt" "$@" > /dev/null 2>&1
    read -r t m < "$WORK/time.txt"
    times+=("$t"); mems+=("$m")
  done
  TIME[$name]=$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  MEM[$name]=$(printf '%s\n' "${mems[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
  printf '%-9s median %6.2f s   peak %7d KiB\n' "$name" "${TIME[$name]}" "${MEM[$name]}"
}

measure vorlo "$VORLO" --importcode="$WORK/in.hex" --format=MOTSREC32 --exportcode="$WORK/vorlo.srec"
measure srec_cat srec_cat "$WORK/in.hex" -intel -o "$WORK/srec_cat.srec" -motorola
measure objcopy objcopy -I ihex -O srec --srec-forceS3 "$WORK/in.hex" "$WORK/objcopy.srec"

# The three outputs must hold the same data.
for f in vorlo srec_cat objcopy; do
  srec_cat "$WORK/$f.srec" -motorola -offset -0x08000000 -o "$WORK/$f.bin" -binary
  cmp -s "$WORK/$f.bin" "$WORK/data.bin" || { echo "$f: data differ"; exit 1; }
done

awk -v v="${TIME[vorlo]}" -v o="${TIME[objcopy]}" -v s="${TIME[srec_cat]}" -v m="${MEM[vorlo]}" -v d="$SIZE" 'BEGIN {
  printf "time vorlo/objcopy  %.2f (goal <= 0.50)\n", (o > 0 ? v / o : 0)
  printf "time vorlo/srec_cat %.2f\n", (s > 0 ? v / s : 0)
  printf "peak memory vorlo / data size %.2f (goal <= 4.00)\n", m * 1024 / d
}'

# ELF input beside Intel HEX: the same 8 MiB as one PT_LOAD segment, loaded and listed.
python3 - "$WORK/data.bin" "$WORK/in.elf" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
head = b"\x7fELF\x01\x01\x01" + bytes(9) + struct.pack("<HHIIIIIHHHHHH", 2, 40, 1, 0x08000000, 52, 0, 0, 52, 32, 1, 40, 0, 0)
ph = struct.pack("<IIIIIIII", 1, 84, 0x08000000, 0x08000000, len(data), len(data), 5, 4)
open(sys.argv[2], "wb").write(head + ph + data)
PY
measure elf "$VORLO" --importcode="$WORK/in.elf" --listcode
measure hex "$VORLO" --importcode="$WORK/in.hex" --listcode
awk -v e="${TIME[elf]}" -v h="${TIME[hex]}" 'BEGIN {
  printf "time ELF load / Intel HEX load %.2f (goal <= 1.00)\n", (h > 0 ? e / h : 0)
}'
