#!/usr/bin/env bash
# Builds the benchmarks (optimised) and runs every one of them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DQUORVEL_BENCH=ON -DQUORVEL_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
cmake --build build-bench -j"$(nproc)"
for b in build-bench/bin/*_bench; do
  [ -n "${1:-}" ] && [[ "$(basename "$b")" != *"$1"* ]] && continue
  echo "== $(basename "$b")"
  "$b"
done
