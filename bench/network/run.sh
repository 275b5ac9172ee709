#!/usr/bin/env bash
# GEN_IAP through a network serial server: 64 KiB (or the given size) at 115200 baud into
# a simulated target with the line modelled, once on its local pseudo-terminal and once
# through ser2net on loopback, as rfc2217:// and as socket://. The ratio is the local
# time over the network time (1.0: the network costs nothing).
# Usage: bench/network/run.sh [build-dir] [size-in-KiB]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
kib="${2:-64}"
source "$root/bench/common.sh"
random_hex "$kib" "$work/image.hex"
ser2net=/usr/sbin/ser2net
[ -x "$ser2net" ] || { echo "ser2net is not installed (apt-get install ser2net)" >&2; exit 1; }

"$build/vorlo-sim" --protocol=gen_iap --baud=115200 --timeout=300 > "$work/sim.out" 2> "$work/sim.err" &
sim=$!
while ! grep -q '^/' "$work/sim.out" 2>/dev/null; do sleep 0.01; done
pts=$(head -1 "$work/sim.out")
cat > "$work/ser2net.yaml" <<YAML
%YAML 1.1
---
connection: &rfc
    accepter: telnet(rfc2217),tcp,127.0.0.1,47001
    connector: serialdev,$pts,115200n81,local
    options:
      kickolduser: true
      chardelay: false
connection: &raw
    accepter: tcp,127.0.0.1,47002
    connector: serialdev,$pts,115200n81,local
    options:
      kickolduser: true
      chardelay: false
YAML
"$ser2net" -n -d -c "$work/ser2net.yaml" -P "$work/ser2net.pid" > /dev/null 2>&1 &
server=$!
trap 'kill $server $sim 2>/dev/null; rm -rf "$work"' EXIT
sleep 0.5

seconds() {  # seconds PORT: one erase, write and start
  local start end
  start=$(date +%s.%N)
  "$build/vorlo" --driver=GEN_IAP --connection="$1",115200,8,N,1 --progress=plain --importcode="$work/image.hex" \
      --erase --write --exec > "$work/run.out" 2>&1 || { cat "$work/run.out" >&2; exit 1; }
  end=$(date +%s.%N)
  python3 -c "print(f'{$end - $start:.2f}')"
}
local=$(seconds "$pts")
rfc=$(seconds rfc2217://127.0.0.1:47001)
raw=$(seconds socket://127.0.0.1:47002)
printf '%-40s %6s s\n' "local pseudo-terminal" "$local"
printf '%-40s %6s s  %.2f of local\n' "rfc2217:// through ser2net" "$rfc" "$(python3 -c "print($local / $rfc)")"
printf '%-40s %6s s  %.2f of local\n' "socket:// through ser2net" "$raw" "$(python3 -c "print($local / $raw)")"
