#!/usr/bin/env bash
# Vorlo's main job on the built-in default: builds Vorlo and its target simulator,
# starts a simulated NXP LPC1768 in its boot ROM on a pseudo-terminal (serial line and
# flash times modelled) and programs the bundled example firmware into it in fast mode:
# through the boot ROM at 115200 baud Vorlo loads its programming routine into the
# part's RAM and starts it; the routine (real Cortex-M3 code, run by the simulator's
# CPU emulator) sets up the part's PLL and UART for 921600 baud and takes the erase,
# the blocks (with the progress bar) and the start. The simulator's memory dump and
# wire log are left in build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVORLO_TESTS=OFF > /dev/null
cmake --build build -j"$(nproc)" > /dev/null

demo="$PWD/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
build/vorlo-sim --protocol=lpc_isp --part=LPC1768 --baud=115200 --exit-after-exec --timeout=30 \
    --dump="$demo/memory.hex" --log="$demo/wire.log" > "$demo/sim.out" 2> "$demo/sim.err" &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
while ! grep -q . "$demo/sim.out" 2>/dev/null; do sleep 0.02; done
port=$(head -1 "$demo/sim.out")

echo "Simulated LPC1768 (boot ROM, 12 MHz crystal) on $port"
echo "vorlo --driver=LPC2000_ISP,12000,921600 --connection=$port,115200,8,N,1 --importcode=examples/blinky.hex --erase --write --exec"
HOME="$demo" build/vorlo --driver=LPC2000_ISP,12000,921600 --connection="$port,115200,8,N,1" \
    --importcode=examples/blinky.hex --erase --write --exec
wait "$sim" || true
trap - EXIT
echo
echo "Programmed memory of the target: $demo/memory.hex"
echo "Wire traffic:                    $demo/wire.log"
build/vorlo --importcode="$demo/memory.hex" --compactcode --listcode --codeinfo
