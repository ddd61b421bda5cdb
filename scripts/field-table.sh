#!/bin/bash
# Puts the drivers' field tables into README.md, between the markers
# "<!-- field-table:begin -->" and "<!-- field-table:end -->": what `quorvel --field-table`
# prints from the descriptions of the plug-ins of the build (QUORVEL_LIBRARY_PATH is not used,
# so only the project's own drivers are listed). The test HostFieldTable fails while README.md
# differs from it.
#
#   bash scripts/field-table.sh [BUILD_DIR]     (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
cmake --build "$build" --target quorvel quorvel_elcom quorvel_elzab quorvel_posnet quorvel_skeleton >/dev/null
table=$(mktemp)
trap 'rm -f "$table" "$table.readme"' EXIT
env -u QUORVEL_LIBRARY_PATH "$build/bin/quorvel" --field-table >"$table"
awk -v table="$table" '
  /^<!-- field-table:begin -->$/ { print; while ((getline line < table) > 0) print line; skip = 1; next }
  /^<!-- field-table:end -->$/ { skip = 0 }
  !skip
' "$root/README.md" >"$table.readme"
cat "$table.readme" >"$root/README.md"
echo "README.md: field tables updated"
