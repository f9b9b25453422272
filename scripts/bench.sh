#!/usr/bin/env bash
# Builds an optimised Dormex and runs the benchmarks on synthetic machines.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh linux
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF > /dev/null
cmake --build build/bench --target dormex_bench -j "$(nproc 2>/dev/null || echo 2)"
build/bench/dormex_bench "$@"
