#!/usr/bin/env bash
# Builds what the demo needs and runs `quorvel demo`: the Elcom driver against the simulated
# register (connection check, sending goods, import, sales read-out with clearing), then the
# Elzab driver against the WinIP stand-in and the POSNET driver against its stand-ins.
#   scripts/demo.sh [elcom|elzab|posnet] [--model 1..7] [-C DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DQUORVEL_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)" --target quorvel Quorvel quorvel_elcom elcom_sim \
  quorvel_elzab WinIP elzab_sim quorvel_posnet posnet_sim posnet hlapi
exec build/bin/quorvel demo "$@"
