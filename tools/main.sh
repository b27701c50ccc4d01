#!/usr/bin/env bash
# The main job: builds everything, then runs the installer under Wine.
#   bash tools/main.sh            (as root on a fresh Debian 12 machine too)
# Exits with the installer's exit code (the low 8 bits Wine passes on).
set -euo pipefail
VELMO_TOOL=main
# shellcheck source=harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
trap velmo_cleanup EXIT

velmo_prepare

INSTALLER="$VELMO_BUILD/bin/installer.exe"
[[ -f "$INSTALLER" ]] || { velmo_log "error: $INSTALLER was not built"; exit 1; }
velmo_log "running $INSTALLER --version"
rc=0
version=$("$VELMO_ROOT/tools/wine_exec.sh" "$INSTALLER" --version) || rc=$?
velmo_log "version: $version (exit code $rc)"
[[ $rc == 0 ]] || exit "$rc"

# A silent start-up: it writes the installer log in the Wine user's
# temporary folder, which is shown here.
marker=$(mktemp /tmp/velmo-main.XXXXXX)
velmo_log "running $INSTALLER --silent"
run_rc=0
"$VELMO_ROOT/tools/wine_exec.sh" "$INSTALLER" --silent || run_rc=$?
velmo_log "installer.exe --silent exit code: $run_rc"
log=$(find "$WINEPREFIX/drive_c/users" -path '*Installer/*_installer_*.log' -newer "$marker" \
        2>/dev/null | sort | tail -n1)
rm -f "$marker"
if [[ -z "$log" ]]; then
  velmo_log "error: the run wrote no installer log"
  exit 1
fi
velmo_log "installer log $log:"
cat "$log"
