#!/usr/bin/env bash
# Builds what the demo needs and runs `quorvel demo`: the Elcom driver against the simulated
# register (connection check, sending goods, import, sales read-out with clearing).
#   scripts/demo.sh [elcom] [--model 1..7] [-C DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DQUORVEL_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)" --target quorvel Quorvel quorvel_elcom elcom_sim \
  quorvel_posnet posnet_sim posnet hlapi
exec build/bin/quorvel demo "$@"
