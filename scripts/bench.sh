#!/usr/bin/env bash
# Builds the benchmarks (optimised) and runs every one of them, pinned to processor 0: the
# processors of one machine may run at different speeds, and two processes measured on
# different ones give any ratio. A benchmark that misses its target (or fails) does not stop
# the others; the script names them at the end and exits with status 1.
#
#   bash scripts/bench.sh [NAME] [-- ARGUMENTS]   only the benchmarks whose name holds NAME,
#                                                 each given ARGUMENTS (e.g. smaller sizes)
set -uo pipefail
cd "$(dirname "$0")/.."
filter="${1:-}"
[ "$filter" = "--" ] && filter=""
args=()
for ((i = 1; i <= $#; i++)); do
  if [ "${!i}" = "--" ]; then args=("${@:i+1}"); break; fi
done
set -e
bash scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DQUORVEL_BENCH=ON -DQUORVEL_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
cmake --build build-bench -j"$(nproc)"
set +e
pin=()
if command -v taskset >/dev/null; then pin=(taskset -c 0); fi
failed=()
for b in build-bench/bin/*_bench; do
  [ -n "$filter" ] && [[ "$(basename "$b")" != *"$filter"* ]] && continue
  echo "== $(basename "$b")"
  if ! "${pin[@]}" "$b" "${args[@]}"; then failed+=("$(basename "$b")"); fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "missed a target or failed: ${failed[*]}"
  exit 1
fi
echo "every benchmark met its targets"
