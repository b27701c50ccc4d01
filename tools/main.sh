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
"$VELMO_ROOT/tools/wine_exec.sh" "$INSTALLER" --version || rc=$?
velmo_log "installer.exe exit code: $rc"
exit "$rc"
