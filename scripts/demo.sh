#!/usr/bin/env bash
# Builds Vorlo and runs its main job on the bundled default.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVORLO_TESTS=OFF > /dev/null
cmake --build build -j"$(nproc)" > /dev/null
build/vorlo --version --drvlist
