#!/usr/bin/env bash
# Sets everything up, builds Quarnel twice (normal, and AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs the whole suite in both, with a short fuzzing run in between, then builds the Debian
# package and checks its contents.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

run_preset() {
    echo "== build: $1"
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1" -j "$jobs"
    echo "== test: $1"
    ctest --preset "$1" -j "$jobs"
}

run_preset default
echo "== fuzz: smoke runs"
bash scripts/fuzz.sh --smoke
run_preset asan
echo "== package"
bash scripts/package.sh
