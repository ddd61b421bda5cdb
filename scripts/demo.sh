#!/usr/bin/env bash
# Builds what the demo needs and runs `quorvel demo`: the Elcom driver against the simulated
# register (connection check, sending goods, import, sales read-out with clearing), then the
# Elzab driver against the WinIP stand-in.
#   scripts/demo.sh [elcom|elzab] [--model 1..7] [-C DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DQUORVEL_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)" --target quorvel Quorvel quorvel_elcom elcom_sim quorvel_elzab WinIP elzab_sim
exec build/bin/quorvel demo "$@"
