#!/usr/bin/env bash
# Sets everything up, builds Quarnel twice (normal and ASan+UBSan) and runs the whole suite in both.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)
for preset in default asan; do
    echo "== build: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    echo "== test: $preset"
    ctest --preset "$preset" -j "$jobs"
done
