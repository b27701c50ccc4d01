#!/usr/bin/env bash
# From process start to the visible welcome page of the interactive
# installer, against a minimal dialog program, both under Wine in one run:
#   bash tools/bench_welcome_page.sh [runs]          (default 20)
# Builds welcome_page_benchmark, installer.exe and minimal_dialog.exe in the
# build tree (VELMO_BUILD_DIR, default build), starts an Xvfb display and a
# persistent wineserver of its own and runs the benchmark, which starts the
# two programs alternately, prints every time, both medians and the ratio,
# and exits 1 when the installer takes more than twice as long.
set -euo pipefail
VELMO_TOOL=bench_welcome_page
# shellcheck source=harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
velmo_wine_prefix_hold "tools/bench_welcome_page.sh"
trap velmo_cleanup EXIT

RUNS=${1:-20}
ninja -C "$VELMO_BUILD" -j"$VELMO_JOBS" welcome_page_benchmark installer installer_engine \
  minimal_dialog
velmo_wine_prefix_create
velmo_start_xvfb
velmo_wine_server_stop
velmo_wine_server_start

# The installers' logs and download folders go here, not into the prefix's
# temporary folder.
work="$VELMO_BUILD/bench_welcome_page"
rm -rf "$work"
mkdir -p "$work/temp"
winpath() { local p=$1; echo "Z:${p//\//\\}"; }
rc=0
"$VELMO_ROOT/tools/wine_exec.sh" "$VELMO_BUILD/bin/welcome_page_benchmark.exe" \
  "--installer=$(winpath "$VELMO_BUILD/bin/installer.exe")" \
  "--minimal=$(winpath "$VELMO_BUILD/bin/minimal_dialog.exe")" \
  "--temp=$(winpath "$work/temp")" "--runs=$RUNS" || rc=$?
if [[ $rc == 1 ]]; then
  velmo_log "the welcome page takes more than twice the minimal dialog's time"
elif [[ $rc != 0 ]]; then
  velmo_log "the benchmark failed (exit code $rc)"
fi
exit "$rc"
