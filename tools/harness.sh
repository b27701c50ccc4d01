# Shared by tools/test.sh, tools/main.sh and the other scripts that run in a
# Wine prefix of their own for a while (sourced, not run): machine set-up,
# an X display and a persistent wineserver for the run, and the build.
# Each of them holds its prefix for its whole run (velmo_wine_prefix_hold,
# called before the clean-up is trapped, so that a run that waits stops
# nothing of the run it waits for), and velmo_cleanup lets it go after the
# run's wineserver has stopped.
#
# VELMO_BUILD_DIR   build tree (default: build, inside the clone)
# VELMO_FRESH_PREFIX  set by the caller: the Wine prefix is made anew first

VELMO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VELMO_BUILD=${VELMO_BUILD_DIR:-build}
[[ "$VELMO_BUILD" == /* ]] || VELMO_BUILD="$VELMO_ROOT/$VELMO_BUILD"
VELMO_JOBS=${VELMO_JOBS:-$(nproc)}
VELMO_XVFB_PID=""

# shellcheck source=wine_prefix.sh
source "$VELMO_ROOT/tools/wine_prefix.sh"

velmo_log() { printf '[%s %s] %s\n' "$VELMO_TOOL" "$(date +%H:%M:%S)" "$*" >&2; }

velmo_cleanup() {
  velmo_report_wine_server
  velmo_wine_server_stop || true
  # The servers of tests that ran in a prefix of their own
  # (tools/own_prefix.sh) stop with their test, unless CTest ended it first.
  local own
  for own in "$WINEPREFIX"-own-*/; do
    [[ -d "$own" ]] || continue
    WINEPREFIX=${own%/} "$WINESERVER" -k >/dev/null 2>&1 || true
  done
  if [[ -n "$VELMO_XVFB_PID" ]]; then
    kill "$VELMO_XVFB_PID" 2>/dev/null || true
    wait "$VELMO_XVFB_PID" 2>/dev/null || true
    VELMO_XVFB_PID=""
  fi
  velmo_wine_prefix_release
}

# Prints what the run's wineserver wrote, if anything: a server that crashed
# or failed an assertion ends with a message there, and every test that was
# running then hangs until its time-out.
velmo_report_wine_server() {
  local said
  said=$(velmo_wine_server_said "  ") || return 0
  velmo_log "the wineserver of $WINEPREFIX wrote:"
  printf '%s\n' "$said" >&2
}

# Starts Xvfb on the first free display from :91 up, for this run alone.
velmo_start_xvfb() {
  local n
  for n in $(seq 91 140); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    VELMO_XVFB_PID=$!
    local i
    for i in $(seq 100); do
      [[ -e /tmp/.X11-unix/X$n ]] && break
      kill -0 "$VELMO_XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    if [[ -e /tmp/.X11-unix/X$n ]] && kill -0 "$VELMO_XVFB_PID" 2>/dev/null; then
      export VELMO_DISPLAY=":$n"
      velmo_log "Xvfb on $VELMO_DISPLAY"
      return 0
    fi
    # Lost a race for that number, or Xvfb failed: try the next one.
    kill "$VELMO_XVFB_PID" 2>/dev/null || true
    wait "$VELMO_XVFB_PID" 2>/dev/null || true
    VELMO_XVFB_PID=""
  done
  velmo_log "error: could not start Xvfb"
  return 1
}

# Set-up, display, Wine, configure and build. Everything started here is
# stopped by velmo_cleanup, which the caller traps on exit.
velmo_prepare() {
  cd "$VELMO_ROOT"
  local t0=$SECONDS
  # As root it installs what is missing; otherwise it only checks.
  bash tools/setup.sh

  velmo_start_xvfb
  # A server left by an earlier run may talk to a display that is gone.
  velmo_wine_server_stop
  if [[ -n "${VELMO_FRESH_PREFIX:-}" ]]; then
    velmo_wine_prefix_fresh
  fi
  : >"$(velmo_wine_server_log)"
  local old_core
  if old_core=$(velmo_wine_server_core); then
    rm -f "$old_core"
  fi
  velmo_wine_server_start
  VELMO_WINESERVER_PID=$(velmo_wine_server_pid)
  export VELMO_WINESERVER_PID
  velmo_log "Wine prefix $WINEPREFIX ready, wineserver running (pid ${VELMO_WINESERVER_PID:-unknown})"

  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Lets clones in other folders (CI) hit the same cache entries.
    export CCACHE_BASEDIR="$VELMO_ROOT"
  fi
  velmo_log "configuring $VELMO_BUILD"
  cmake -G Ninja -S "$VELMO_ROOT" -B "$VELMO_BUILD" \
    -DCMAKE_TOOLCHAIN_FILE="$VELMO_ROOT/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$VELMO_ROOT/tools/wine_exec.sh" \
    -DVELMO_TEST_CRASH_TRIGGER="${VELMO_TEST_CRASH_TRIGGER:-OFF}" \
    "${launcher[@]}"
  velmo_log "building with $VELMO_JOBS jobs"
  ninja -C "$VELMO_BUILD" -j"$VELMO_JOBS"
  velmo_log "set-up and build took $((SECONDS - t0)) s"
}
