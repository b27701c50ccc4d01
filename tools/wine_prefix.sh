#!/usr/bin/env bash
# The Wine prefix the tests run in, kept outside the clone and reused.
#
#   tools/wine_prefix.sh create   make the prefix once (about 15 s), no-op after
#   tools/wine_prefix.sh start    create it if needed, start a persistent wineserver
#   tools/wine_prefix.sh stop     stop that wineserver
#   tools/wine_prefix.sh env      print the environment the tests run with
#
# Sourced (by tools/wine_exec.sh and the other scripts) it only defines the
# velmo_wine_* functions.
#
# VELMO_WINEPREFIX  prefix folder (default ~/.cache/velmo/wineprefix)
# VELMO_DISPLAY     X display for Wine's windows (tools/test.sh starts an Xvfb)

# Environment for every Wine process of the suite.
velmo_wine_env() {
  export WINEPREFIX=${VELMO_WINEPREFIX:-${HOME:-/root}/.cache/velmo/wineprefix}
  export WINEDEBUG=-all
  # No Mono/Gecko install prompts, no menu entries on the host.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # Wine's WinInet/WinHTTP honour these, and tests only talk to local servers.
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY \
    ftp_proxy FTP_PROXY all_proxy ALL_PROXY
  if [[ -n "${VELMO_DISPLAY:-}" ]]; then
    export DISPLAY=$VELMO_DISPLAY
  fi
  # Debian installs the 64-bit loader outside PATH; /usr/bin/wine would look
  # for the 32-bit one first.
  if [[ -x /usr/lib/wine/wine64 ]]; then
    VELMO_WINE=/usr/lib/wine/wine64
    export WINELOADER=$VELMO_WINE
  else
    VELMO_WINE=$(command -v wine64 || command -v wine || true)
  fi
  if [[ -x /usr/lib/wine/wineserver64 ]]; then
    export WINESERVER=/usr/lib/wine/wineserver64
  else
    WINESERVER=$(command -v wineserver || true)
    export WINESERVER
  fi
  if [[ -z "$VELMO_WINE" || -z "$WINESERVER" ]]; then
    echo "wine_prefix: Wine is not installed; run tools/setup.sh as root" >&2
    return 1
  fi
}

velmo_wine_prefix_create() {
  velmo_wine_env || return 1
  local stamp="$WINEPREFIX/.velmo-prefix-ready"
  [[ -f "$stamp" ]] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    # Two suites starting at once must not both initialise the prefix.
    exec 8>"$WINEPREFIX.lock"
    flock 8
    [[ -f "$stamp" ]] && exit 0
    echo "wine_prefix: creating $WINEPREFIX" >&2
    local t0=$SECONDS key
    # A prefix left half-made by an interrupted run is started over.
    rm -rf "$WINEPREFIX"
    "$VELMO_WINE" wineboot -i </dev/null >/dev/null 2>&1 || {
      echo "wine_prefix: wineboot -i failed" >&2
      exit 1
    }
    # A crashing test must fail at once, not wait in winedbg.
    key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
    for view in 64 32; do
      "$VELMO_WINE" reg add "$key" /v Debugger /t REG_SZ /d "" /f /reg:$view \
        </dev/null >/dev/null 2>&1 || {
        echo "wine_prefix: could not set AeDebug ($view-bit view)" >&2
        exit 1
      }
    done
    # Let the server write the registry out before the prefix is declared ready.
    "$WINESERVER" -w
    touch "$stamp"
    echo "wine_prefix: ready in $((SECONDS - t0)) s" >&2
  )
}

# A persistent wineserver keeps each process start at about 0.1 s instead of
# a fresh server start per test. The first Wine process also starts Wine's
# background services (services.exe, winedevice.exe), which then outlive it
# and keep its stdout and stderr open: started from a CTest test they would
# hold that test's output pipe and CTest would wait forever. So they are
# started here, with their output on /dev/null, before any test runs.
velmo_wine_server_start() {
  velmo_wine_prefix_create || return 1
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 || return 1
  "$VELMO_WINE" wineboot </dev/null >/dev/null 2>&1 || return 1
}

velmo_wine_server_stop() {
  velmo_wine_env || return 1
  "$WINESERVER" -k >/dev/null 2>&1 || true
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  set -euo pipefail
  case "${1:-}" in
    create) velmo_wine_prefix_create ;;
    start) velmo_wine_server_start ;;
    stop) velmo_wine_server_stop ;;
    env)
      velmo_wine_env
      env | grep -E '^(WINE|DISPLAY=)' | sort
      ;;
    *)
      echo "usage: $0 create|start|stop|env" >&2
      exit 2
      ;;
  esac
fi
