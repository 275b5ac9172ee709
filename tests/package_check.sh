#!/usr/bin/env bash
# The Debian package of a build: built with cpack, unpacked with dpkg-deb into a scratch
# folder, and run from there: the programs, a conversion, the man pages, the completion.
#   package_check.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work/out" > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libwxbase3.2-1 libudev1 libgpiod2 libunicorn2; do
  [[ "$depends" == *"$lib"* ]] || { echo "Depends lacks $lib: $depends"; exit 1; }
done
dpkg-deb -x "$deb" "$work/root"
root="$work/root/usr"
for f in bin/vorlo bin/vorlo-sim share/man/man1/vorlo.1 share/man/man1/vorlo-sim.1 \
         share/bash-completion/completions/vorlo share/bash-completion/completions/vorlo-sim \
         share/doc/vorlo/README.md share/doc/vorlo/drivers.md; do
  [ -e "$root/$f" ] || { echo "missing in the package: /usr/$f"; exit 1; }
done
export HOME="$work" TMP="$work"
version=$("$root/bin/vorlo" --version)
[[ "$version" == vorlo\ * ]] || { echo "vorlo --version said: $version"; exit 1; }
printf ':0400100001020304E2\r\n:00000001FF\r\n' > "$work/a.hex"
"$root/bin/vorlo" --importcode="$work/a.hex" --format=MOTSREC --exportcode="$work/a.s19" > /dev/null
grep -q '^S1170000F*01020304' "$work/a.s19" || { echo "conversion failed:"; cat "$work/a.s19"; exit 1; }
"$root/bin/vorlo-sim" --help > /dev/null
# The installed completion, in a real bash that loads it on demand.
python3 "$(dirname "$0")/completion_check.py" "$root/share/bash-completion/completions/vorlo" "$root/bin"
echo "package $(basename "$deb") unpacked and run"
