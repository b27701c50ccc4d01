#!/usr/bin/env bash
# Compares the start-up of `installer.exe --version` with that of a minimal
# console program, both under Wine with a persistent wineserver, in one run.
# The single-file host (installer_standalone.exe, what the downloaded
# installers are made of) is measured beside them and reported: it checks
# the engine it wrote to the temporary folder byte for byte on every start
# (through a view of the file).
#
#   tools/bench_startup.sh [build-dir] [runs]     (defaults: <repo>/build, 20)
#
# Nothing heavy may run before the version switch is answered: exits 1 when
# the installer takes 1.5 times as long as the minimal program or longer.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(dirname "$HERE")
BUILD=${1:-$ROOT/build}
RUNS=${2:-20}
MAX_RATIO=1.5
INSTALLER=$BUILD/bin/installer.exe
MINIMAL=$BUILD/bin/tiny_program.exe
STANDALONE=$BUILD/bin/installer_standalone.exe

for exe in "$INSTALLER" "$MINIMAL" "$STANDALONE"; do
  [[ -f "$exe" ]] || { echo "bench_startup: $exe not found; build it first" >&2; exit 2; }
done

# shellcheck source=wine_prefix.sh
source "$HERE/wine_prefix.sh"
velmo_wine_prefix_hold "tools/bench_startup.sh"
velmo_wine_prefix_create
velmo_wine_server_start >/dev/null 2>&1 || true

time_runs() {
  local t0 t1
  t0=$(date +%s.%N)
  for ((i = 0; i < RUNS; i++)); do
    "$HERE/wine_exec.sh" "$@" >/dev/null
  done
  t1=$(date +%s.%N)
  echo "$t0 $t1" | awk -v n="$RUNS" '{ printf "%.4f", ($2 - $1) / n }'
}

# One warm-up run of each, so neither pays for loading Wine's own DLLs.
"$HERE/wine_exec.sh" "$MINIMAL" >/dev/null
"$HERE/wine_exec.sh" "$INSTALLER" --version >/dev/null
"$HERE/wine_exec.sh" "$STANDALONE" --version >/dev/null

minimal=$(time_runs "$MINIMAL")
installer=$(time_runs "$INSTALLER" --version)
standalone=$(time_runs "$STANDALONE" --version)
ratio=$(awk -v a="$installer" -v b="$minimal" 'BEGIN { printf "%.3f", a / b }')
standalone_ratio=$(awk -v a="$standalone" -v b="$minimal" 'BEGIN { printf "%.3f", a / b }')
echo "minimal program:        ${minimal} s per start"
echo "installer.exe --version: ${installer} s per start"
echo "installer_standalone.exe --version: ${standalone} s per start (ratio ${standalone_ratio})"
echo "ratio installer/minimal: ${ratio} (must stay below ${MAX_RATIO})"
awk -v r="$ratio" -v m="$MAX_RATIO" 'BEGIN { exit !(r < m) }' || { echo "bench_startup: too slow" >&2; exit 1; }
