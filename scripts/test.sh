#!/usr/bin/env bash
# Installs what the build needs, builds Vorlo from scratch with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite; then cross-builds vorlo.exe
# and runs the Windows tests under Wine (scripts/test-windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
rm -rf build-test
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=Debug -DVORLO_SANITIZE=ON > /dev/null
cmake --build build-test -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-test --output-on-failure -j"$(nproc)"
scripts/test-windows.sh build-test
