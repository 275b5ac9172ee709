#!/usr/bin/env bash
# Cross-builds vorlo.exe from scratch (MinGW-w64, Release) and runs the Windows tests
# under Wine: the unit tests and the zip through ctest, then the end-to-end suite, which
# programs the simulated targets of a Linux build's vorlo-sim through Wine COM ports and
# compares vorlo.exe's files and texts with that build's vorlo.
#   scripts/test-windows.sh [LINUX_BUILD_DIR]     (default: build-test)
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=${1:-build-test}
scripts/install-deps.sh
start=$(date +%s)
rm -rf build-test-win
cmake -S . -B build-test-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build-test-win -j"$(nproc)"
echo "Windows build: $(( $(date +%s) - start )) s"

# One prefix for every test, made once (some 15 s); the suite keeps one wineserver running
# for its checks, so that a program starts warm (some 80 ms, a cold start 1.5-3 s). Mono
# and Gecko are not wanted (nor downloadable).
export WINEPREFIX="$PWD/build-test-win/wine/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
mkdir -p build-test-win/wine
wineboot -i > /dev/null 2>&1
wineserver -w
trap 'wineserver -k 2> /dev/null || true' EXIT
ctest --test-dir build-test-win --output-on-failure
python3 tests/win32/wine_suite.py build-test-win/vorlo.exe "$linux_build/vorlo" "$linux_build/vorlo-sim" build-test-win/wine
echo "Windows part: $(( $(date +%s) - start )) s" >&2
