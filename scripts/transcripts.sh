#!/usr/bin/env bash
# Behaviour snapshot for refactoring: runs a fixed set of scenarios (every driver against
# vorlo-sim, conversions, listings, help texts, failures, a gang) and keeps what each
# printed, its exit code, the wire log and the simulator's memory, with timing-dependent
# details normalised. Two snapshots of two builds must be identical:
#   scripts/transcripts.sh BUILD_DIR OUT_DIR
#   diff -r OUT_A OUT_B
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build=$(cd "$1" && pwd)
out=$2
rm -rf "$out"; mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" TMP="$work" TEMP="$work"
cd "$work"
vorlo="$build/vorlo"
sim="$build/vorlo-sim"

python3 - "$work/app.hex" "$work/msp.hex" "$work/lpc.hex" <<'PY'
import sys
def hexfile(path, records):
    with open(path, "w") as f:
        upper = None
        for base, data in records:
            for at in range(0, len(data), 16):
                a = base + at
                if a >> 16 != upper:
                    upper = a >> 16
                    f.write(":02000004%04X%02X\n" % (upper, (-(6 + (upper >> 8) + (upper & 0xFF))) & 0xFF))
                chunk = data[at:at + 16]
                body = bytes([len(chunk), (a >> 8) & 0xFF, a & 0xFF, 0]) + chunk
                f.write(":" + body.hex().upper() + "%02X\n" % ((-sum(body)) & 0xFF))
        f.write(":00000001FF\n")
pattern = lambda n, seed: bytes(((i * 7 + seed) ^ (i >> 8)) & 0xFF for i in range(n))
hexfile(sys.argv[1], [(0x0, pattern(5000, 1)), (0x3000, pattern(700, 2))])
hexfile(sys.argv[2], [(0x8000, pattern(600, 3)), (0xFFE0, pattern(32, 4))])
hexfile(sys.argv[3], [(0x0, pattern(9000, 5))])
PY

normalise() {  # stdin: raw output
  python3 -c '
import re, sys
t = sys.stdin.read()
t = re.sub(r"(\[[#.]*\] ?\d*)+", "[BAR]", t)            # progress bars, however often redrawn
t = re.sub(r"\rConnecting \.\. +\d+s +", "", t)          # the countdown
t = re.sub(r"/dev/pts/\d+", "PTS", t)
t = re.sub(r"/tmp/tmp\.\w+", "WORK", t)
t = re.sub(r"\d+\.\d+ s\b|\b\d+\.\d{1,3}\b(?= *(s|seconds)?\b)", "N.N", t) if "Gang" in t else t
sys.stdout.write(t)'
}

# scenario NAME "SIM OPTIONS" VORLO-ARGS... : PORT in the arguments is the terminal.
scenario() {
  local name=$1 simopts=$2; shift 2
  local dir="$out/$name"; mkdir -p "$dir"
  local port=""
  if [ -n "$simopts" ]; then
    rm -f "$work/sim.out"
    # shellcheck disable=SC2086
    "$sim" $simopts --timeout=60 --log="$work/wire.log" --dump-bin="$work/mem.bin" > "$work/sim.out" 2> "$work/sim.err" &
    local spid=$!
    while ! grep -q '^/' "$work/sim.out" 2>/dev/null; do sleep 0.01; done
    port=$(head -1 "$work/sim.out")
  fi
  local args=("${@//PORT/$port}")
  "$vorlo" "${args[@]}" > "$work/o" 2> "$work/e"
  echo "exit $?" > "$dir/exit"
  normalise < "$work/o" > "$dir/stdout"
  normalise < "$work/e" > "$dir/stderr"
  if [ -n "$simopts" ]; then
    kill "$spid" 2>/dev/null; wait "$spid" 2>/dev/null
    # the wire log without its time column, the bytes of one direction joined up to the
    # next change of direction or note (how the bytes came in chunks is timing)
    python3 -c '
import re, sys
last, out = None, []
for line in open(sys.argv[1]):
    f = line.split()
    if len(f) < 2: continue
    kind, rest = f[1], f[2:]
    if kind in ("H>T", "T>H") and kind == last:
        out[-1] += rest
    else:
        out.append([kind] + rest)
    last = kind
for f in out: print(re.sub(r"/dev/pts/\d+", "PTS", " ".join(f)))' "$work/wire.log" > "$dir/wire"
    [ -f "$work/mem.bin" ] && sha256sum < "$work/mem.bin" > "$dir/memory"
    rm -f "$work/wire.log" "$work/mem.bin"
  fi
}

c115=",115200,8,N,1"
scenario gen_iap "--protocol=gen_iap" --driver=GEN_IAP --connection=PORT$c115 --importcode=app.hex --erase --write --exec
scenario lpc_rom "--protocol=lpc_isp --part=LPC2148" --driver=LPC2000_ISP,12000 --connection=PORT$c115 \
  --importcode=lpc.hex --erase --blankcheck=1-3 --write --verify --deviceinfo --exec
scenario lpc_fast_m3 "--protocol=lpc_isp --part=LPC1768" --driver=LPC2000_ISP,12000,921600 --connection=PORT$c115 \
  --importcode=lpc.hex --erase --write --verify --read=0-0x1FFF --listcode --exec
scenario lpc_fast_arm7 "--protocol=lpc_isp --part=LPC2378" --driver=LPC2000_ISP,12000,230400 --connection=PORT$c115 \
  --importcode=lpc.hex --erase --write --verify
scenario lpc_read "--protocol=lpc_isp --part=LPC2106 --load=$work/lpc.hex" --driver=LPC2000_ISP,12000 \
  --connection=PORT$c115 --read=0x2001-0x2102 --format=INTELHEX --exportcode=dump.hex --listdata
scenario msp430 "--protocol=msp430_bsl" --driver=MSP430BSL --connection=PORT$c115 --importcode=msp.hex \
  --erase --write --verify --deviceinfo --exec
scenario modbus "--protocol=modbus" --driver=MODBUS,1 --connection=PORT,19200,8,E,1 --importcode=app.hex --erase --write --exec
scenario mic_extmem "--protocol=mic_extmem" --driver=MIC_EXTMEM,230400 --connection=PORT$c115 --importcode=app.hex \
  --erase --write --exec
scenario lpc_iap "--protocol=lpc_iap" --driver=LPC2000_IAP --connection=PORT$c115 --importcode=app.hex --write --exec
scenario mec_iap "--protocol=mec_iap --part=LPC2138" --driver=MEC_IAP --connection=PORT,2400,8,N,1 --contout=5 \
  --importcode=lpc.hex --erase --write --verify
scenario reqisp "--protocol=gen_iap --isp-request=A5 --isp-response=5A" --driver=GEN_IAP --reqisp=A5,5A --connection=PORT$c115 \
  --importcode=app.hex --write
scenario silent "--protocol=gen_iap --silent" --driver=GEN_IAP --connection=PORT$c115 --contout=1 --erase
scenario failed_write "--protocol=gen_iap --fault=nak@W#2-" --driver=GEN_IAP --connection=PORT$c115 \
  --importcode=app.hex --write
scenario convert "" --importcode=app.hex --format=MOTSREC --exportcode=a.s19 --format=BINARY --exportcode=a.bin \
  --importcode=a.s19 --listcode --codeinfo --getentryaddr --format=MOTBREC --exportcode=a.txt
for f in a.s19 a.bin a.txt; do [ -f "$work/$f" ] && sha256sum < "$work/$f" > "$out/convert/$f.sha"; done
scenario texts "" --help --version --drvlist --history
scenario errors "" --importcode=missing.hex
scenario bad_option "" --driver=GEN_IAP --connection=x --frobnicate
exit 0
