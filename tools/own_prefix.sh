#!/usr/bin/env bash
# Runs a command (a test under tools/wine_exec.sh) in a Wine prefix and
# wineserver of its own, beside the run's prefix:
#   tools/own_prefix.sh NAME -- tools/wine_exec.sh build/bin/foo_unittests.exe
# The prefix, <run's prefix>-own-NAME, is made fresh from the template every
# time; its persistent wineserver is started here and stopped here, by its
# pid. A test that may bring the emulator's server down (one that ends
# processes at random moments) then fails alone: the tests beside it keep
# the run's server. The exit status is the command's.
#
# VELMO_WINEPREFIX  the run's prefix (set by tools/test.sh; default that of
#                   tools/wine_prefix.sh)
set -euo pipefail
name=${1:?usage: $0 NAME -- COMMAND...}
shift
[[ "${1:-}" == "--" ]] && shift
(($#)) || {
  echo "usage: $0 NAME -- COMMAND..." >&2
  exit 2
}
# shellcheck source=wine_prefix.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_prefix.sh"
velmo_wine_env
export VELMO_WINEPREFIX="$WINEPREFIX-own-$name"
velmo_wine_env

server_pid=""
child=""
# Prints what the server wrote, then stops it and waits for its end: the
# server is not a child of this script, so its end is seen in /proc.
stop_server() {
  local said waited=0
  if [[ -n "$child" ]]; then
    kill -TERM "$child" 2>/dev/null || true
    wait "$child" 2>/dev/null || true
    child=""
  fi
  if said=$(velmo_wine_server_said "  "); then
    echo "own_prefix: the wineserver of $WINEPREFIX wrote:" >&2
    printf '%s\n' "$said" >&2
  fi
  [[ -n "$server_pid" ]] || return 0
  "$WINESERVER" -k >/dev/null 2>&1 || true
  while kill -0 "$server_pid" 2>/dev/null && ((waited < 100)); do
    sleep 0.1
    waited=$((waited + 1))
  done
  kill -KILL "$server_pid" 2>/dev/null || true
  server_pid=""
}

velmo_wine_prefix_fresh >&2
: >"$(velmo_wine_server_log)"
# The server of a prefix made again has a new folder (named after the
# prefix's inode); an old core there would be another server's.
if old_core=$(velmo_wine_server_core); then
  rm -f "$old_core"
fi
# Should this script be ended without its clean-up (CTest ends a test that
# outlives its time-out with SIGKILL), the server still ends a minute after
# its last process; tools/harness.sh also stops it at the end of the run.
velmo_wine_server_start 60 >&2
server_pid=$(velmo_wine_server_pid)
if [[ -z "$server_pid" ]]; then
  echo "own_prefix: the wineserver of $WINEPREFIX did not start" >&2
  exit 1
fi
echo "own_prefix: $WINEPREFIX, wineserver pid $server_pid" >&2
export VELMO_WINESERVER_PID=$server_pid

trap 'stop_server' EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
# In the background, so that a signal to this script is handled at once
# (the clean-up ends the command first).
"$@" &
child=$!
rc=0
wait "$child" || rc=$?
child=""
exit "$rc"
