#!/usr/bin/env bash
# Builds Quorvel and runs the whole test suite.
#   scripts/test.sh            ordinary build in build/, the benchmarks built (not run)
#   scripts/test.sh --sanitize AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   scripts/test.sh --fuzz     the libFuzzer targets built with Clang in build-fuzz/ (as
#                              scripts/fuzz.sh builds them), each replaying its seeds once
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
dir=build; extra=(-DQUORVEL_BENCH=ON); targets=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan; extra=(-DQUORVEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
elif [ "${1:-}" = "--fuzz" ]; then
  dir=build-fuzz
  extra=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQUORVEL_FUZZ=ON -DQUORVEL_TESTS=OFF
         -DCMAKE_BUILD_TYPE=RelWithDebInfo)
  # Only the fuzz targets and what they link, not the whole system a second time.
  for f in fuzz/*_fuzz.cpp; do targets+=(--target "$(basename "$f" .cpp)"); done
fi
cmake -S . -B "$dir" -G Ninja -DQUORVEL_WERROR=ON "${extra[@]}"
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
