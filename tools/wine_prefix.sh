#!/usr/bin/env bash
# The Wine prefixes the project runs in, kept outside the clone.
#
#   tools/wine_prefix.sh create   make the prefix once (about 15 s), no-op after
#   tools/wine_prefix.sh fresh    make the prefix anew from a template copy
#   tools/wine_prefix.sh start    create it if needed, start a persistent wineserver
#   tools/wine_prefix.sh stop     stop that wineserver
#   tools/wine_prefix.sh env      print the environment the tests run with
#
# Sourced (by tools/wine_exec.sh and the other scripts) it only defines the
# velmo_wine_* functions.
#
# VELMO_WINEPREFIX  prefix folder (default ~/.cache/velmo/wineprefix, which
#                   tools/main.sh, the benchmarks and runs by hand share;
#                   tools/test.sh uses a prefix of its own, see there)
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

# Everything a new prefix gets, in the prefix of the environment (WINEPREFIX
# and the rest from velmo_wine_env): Wine's own set-up and the settings the
# installer and its tests rely on. Runs in a subshell that holds the lock.
velmo_wine_prefix_init() {
  local key view link
  "$VELMO_WINE" wineboot -i </dev/null >/dev/null 2>&1 || {
    echo "wine_prefix: wineboot -i failed" >&2
    return 1
  }
  # A crashing test must fail at once, not wait in winedbg.
  key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
  for view in 64 32; do
    "$VELMO_WINE" reg add "$key" /v Debugger /t REG_SZ /d "" /f /reg:$view \
      </dev/null >/dev/null 2>&1 || {
      echo "wine_prefix: could not set AeDebug ($view-bit view)" >&2
      return 1
    }
  done
  # Let the server write the registry out before the folders are changed.
  "$WINESERVER" -w
  # Wine links the user's Desktop, Documents and the like to the Linux home
  # folder, which every prefix (and every other program of the user)
  # shares: a shortcut made there by one run would show in another. Each
  # prefix gets folders of its own instead.
  for link in "$WINEPREFIX"/drive_c/users/*/*; do
    [[ -L "$link" ]] || continue
    if ! rm -f "$link" || ! mkdir "$link"; then
      echo "wine_prefix: could not replace the link $link" >&2
      return 1
    fi
  done
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
    t0=$SECONDS
    # A prefix left half-made by an interrupted run is started over.
    rm -rf "$WINEPREFIX"
    velmo_wine_prefix_init || exit 1
    touch "$stamp"
    echo "wine_prefix: ready in $((SECONDS - t0)) s" >&2
  )
}

# The folder of the template that fresh prefixes are copied from: one per
# Wine version and per content of velmo_wine_prefix_init, so that a change
# to either makes a new one.
velmo_wine_template_path() {
  local version recipe
  version=$("$VELMO_WINE" --version 2>/dev/null || echo unknown)
  recipe=$(declare -f velmo_wine_prefix_init)
  printf '%s/.cache/velmo/template-%s' "${HOME:-/root}" \
    "$(printf '%s\n%s' "$version" "$recipe" | sha256sum | cut -c1-12)"
}

# Makes the prefix anew: whatever earlier runs left in it (installations,
# registry keys, shortcuts, tasks) is gone. Its wineserver and every Wine
# process in it are ended first. A copy of a template (made once, about
# 15 s) takes a few seconds; wineboot would take 15.
velmo_wine_prefix_fresh() {
  velmo_wine_env || return 1
  local prefix=$WINEPREFIX template
  template=$(velmo_wine_template_path)
  (VELMO_WINEPREFIX=$template velmo_wine_prefix_create) || return 1
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
  mkdir -p "$(dirname "$prefix")"
  (
    exec 8>"$prefix.lock"
    flock 8
    rm -rf "$prefix"
    # The template is only read: its stamp is written last, under its lock.
    cp -a "$template" "$prefix.new.$$" && mv "$prefix.new.$$" "$prefix"
  ) || {
    echo "wine_prefix: could not copy $template to $prefix" >&2
    rm -rf "$prefix.new.$$"
    return 1
  }
  echo "wine_prefix: $prefix made fresh from $template" >&2
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
    fresh) velmo_wine_prefix_fresh ;;
    start) velmo_wine_server_start ;;
    stop) velmo_wine_server_stop ;;
    env)
      velmo_wine_env
      env | grep -E '^(WINE|DISPLAY=)' | sort
      ;;
    *)
      echo "usage: $0 create|fresh|start|stop|env" >&2
      exit 2
      ;;
  esac
fi
