#!/usr/bin/env bash
# Compares the speed of two builds of the installer, so that a change that
# makes it slower is seen before it lands.
#
#   tools/bench_compare.sh BASE [HEAD]
#
# BASE and HEAD are commits. Each is built in a git worktree of its own
# (under ~/.cache/velmo/bench-trees, kept for the next comparison; the
# compiler cache makes a build of a commit near the last one quick). With
# no HEAD, the working tree's own build is compared (<repo>/build, or
# VELMO_BUILD_DIR), brought up to date first: uncommitted changes count.
#
# Then runs, HEAD and BASE in turn (the one that goes first alternating),
# each benchmark script of tools/ on both builds, BENCH_COMPARE_RUNS times
# each (default 3):
#   - the many-small-files installation and the browser-package
#     installation (bench_vs_nsis.sh --ours-only): the installation, its
#     unpacking as its log shows it, and its uninstallation until the
#     uninstaller exits;
#   - start-up (bench_startup.sh, 20 starts): installer.exe --version,
#     over a minimal program started in the same run (the load slows
#     both);
#   - unpacking (bench_7z_unpack.sh --ours-only): the 300 MiB PE archive;
#   - a download (bench_wininet.sh --ours-only): 200 MiB from nginx.
# Prints every figure of both builds, their medians, the ratio HEAD/BASE of
# the time (for a rate, BASE's rate over HEAD's) and the load (uptime).
#
# A median of HEAD more than 15% slower than BASE's is measured again, both
# builds in turn as before; only when the repeat is more than 15% slower
# too is the figure called slower. Exits 1 naming every slower figure, 2
# when a build or a benchmark fails, 0 otherwise.
#
# Every Wine process runs in a prefix of the comparison's own, made fresh
# at the start, never the shared one: VELMO_WINEPREFIX, by default
# ~/.cache/velmo/bench-compare-<hash of the clone's folder>. Its wineserver
# is stopped at the end.
#
# BENCH_COMPARE_RUNS   runs of each benchmark on each build (default 3)
# BENCH_COMPARE_ONLY   a space-separated list of benchmarks to run, of
#                      small-files, browser-package, startup, unpacking,
#                      download (default: all)
# BENCH_COMPARE_CACHE  folder that keeps the benchmark packages of each
#                      build for later comparisons (default: a temporary
#                      folder, removed at the end)
# VELMO_JOBS           build jobs (default 3)
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(dirname "$HERE")
RUNS=${BENCH_COMPARE_RUNS:-3}
JOBS=${VELMO_JOBS:-3}
MAX_SLOWDOWN=1.15
TREES=${HOME:-/root}/.cache/velmo/bench-trees

log() { printf '[bench_compare %s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }

if [[ $# -lt 1 || $# -gt 2 || "$1" == -* ]]; then
  echo "usage: $0 BASE [HEAD]" >&2
  exit 2
fi
((RUNS >= 3)) || { log "BENCH_COMPARE_RUNS must be 3 or more"; exit 2; }

if [[ -z "${VELMO_WINEPREFIX:-}" ]]; then
  VELMO_WINEPREFIX="${HOME:-/root}/.cache/velmo/bench-compare-$(printf '%s' "$ROOT" | sha256sum | cut -c1-12)"
fi
if [[ "$VELMO_WINEPREFIX" == "${HOME:-/root}/.cache/velmo/wineprefix" ]]; then
  log "VELMO_WINEPREFIX names the shared prefix; give the comparison a prefix of its own"
  exit 2
fi
export VELMO_WINEPREFIX

# The configuration the working tree's build was made with (tools/test.sh
# switches the crash trigger on), so that both builds are made alike.
crash_trigger() {
  local cache=$1/CMakeCache.txt
  if [[ -f "$cache" ]] && grep -q '^VELMO_TEST_CRASH_TRIGGER:BOOL=ON' "$cache"; then
    echo ON
  else
    echo OFF
  fi
}

# Configures (once) and builds the tree |1| into |1|/build, as
# tools/harness.sh does.
build_tree() {
  local tree=$1 trigger=$2 launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  if [[ ! -f "$tree/build/build.ninja" ]]; then
    CCACHE_BASEDIR=$tree cmake -G Ninja -S "$tree" -B "$tree/build" \
      -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/toolchain-mingw64.cmake" \
      -DCMAKE_CROSSCOMPILING_EMULATOR="$tree/tools/wine_exec.sh" \
      -DVELMO_TEST_CRASH_TRIGGER="$trigger" "${launcher[@]}" >/dev/null
  fi
  CCACHE_BASEDIR=$tree ninja -C "$tree/build" -j"$JOBS" >/dev/null
}

# Builds commit |1| in a worktree of its own; prints the build folder.
build_commit() {
  local commit tree
  commit=$(git -C "$ROOT" rev-parse --verify "$1^{commit}") || {
    log "$1 is no commit"
    return 1
  }
  tree=$TREES/${commit:0:12}
  if [[ ! -e "$tree/.git" ]]; then
    mkdir -p "$TREES"
    rm -rf "$tree"
    # (Forced: a tree removed by hand is still registered.)
    git -C "$ROOT" worktree add --force --detach "$tree" "$commit" >/dev/null 2>&1 || {
      log "could not make a worktree of $1 in $tree"
      return 1
    }
  fi
  log "building $1 (${commit:0:12}) in $tree"
  build_tree "$tree" "$TRIGGER" || {
    log "the build of $1 failed; run: ninja -C $tree/build"
    return 1
  }
  printf '%s/build\n' "$tree"
}

WORKTREE_BUILD=${VELMO_BUILD_DIR:-build}
[[ "$WORKTREE_BUILD" == /* ]] || WORKTREE_BUILD=$ROOT/$WORKTREE_BUILD
TRIGGER=$(crash_trigger "$WORKTREE_BUILD")
BASE_LABEL="$1 ($(git -C "$ROOT" rev-parse --short=12 "$1^{commit}" 2>/dev/null || echo '?'))"
BASE_BUILD=$(build_commit "$1") || exit 2
if [[ $# -eq 2 ]]; then
  HEAD_LABEL="$2 ($(git -C "$ROOT" rev-parse --short=12 "$2^{commit}" 2>/dev/null || echo '?'))"
  HEAD_BUILD=$(build_commit "$2") || exit 2
else
  HEAD_LABEL="the working tree ($(git -C "$ROOT" rev-parse --short=12 HEAD)"
  [[ -z "$(git -C "$ROOT" status --porcelain --untracked-files=no)" ]] ||
    HEAD_LABEL+=" with uncommitted changes"
  HEAD_LABEL+=")"
  HEAD_BUILD=$WORKTREE_BUILD
  log "building the working tree in $HEAD_BUILD"
  if [[ -f "$HEAD_BUILD/build.ninja" ]]; then
    CCACHE_BASEDIR=$ROOT ninja -C "$HEAD_BUILD" -j"$JOBS" >/dev/null ||
      { log "the build of the working tree failed"; exit 2; }
  else
    log "$HEAD_BUILD is not configured; run tools/test.sh (or tools/main.sh) first"
    exit 2
  fi
fi

WORK=$(mktemp -d /tmp/bench_compare.XXXXXX)
CACHE=${BENCH_COMPARE_CACHE:-$WORK/packages}
# shellcheck source=wine_prefix.sh
source "$HERE/wine_prefix.sh"
cleanup() {
  velmo_wine_server_stop >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT
velmo_wine_prefix_fresh >/dev/null 2>&1 || { log "could not make the prefix $VELMO_WINEPREFIX"; exit 2; }

# The benchmarks: a name, then each figure it gives as "label|kind|pattern",
# where kind is "time" (seconds, less is faster) or "rate" (more is faster)
# and pattern is an extended regex whose first number after it in the
# script's output is the figure.
declare -A FIGURES=(
  [small-files]="small-files installation|time|^ours \(velmo_bench_installer
small-files unpacking (log)|time|^unpacking \(from the installer log\):.*median
small-files uninstallation|time|^uninstallation \(until the uninstaller exits\):.*median"
  [browser-package]="browser-package installation|time|^ours \(velmo_bench_installer
browser-package unpacking (log)|time|^unpacking \(from the installer log\):.*median"
  [startup]="start-up (installer.exe --version over a minimal program)|time|^ratio installer/minimal:"
  [unpacking]="unpacking (300 MiB archive)|rate|^engine \(Wine\):"
  [download]="download (200 MiB)|rate|^downloader:"
)
ORDER=(small-files browser-package startup unpacking download)
if [[ -n "${BENCH_COMPARE_ONLY:-}" ]]; then
  read -r -a ORDER <<<"$BENCH_COMPARE_ONLY"
  for name in "${ORDER[@]}"; do
    [[ -n "${FIGURES[$name]:-}" ]] || { log "unknown benchmark $name"; exit 2; }
  done
fi

# Runs benchmark |1| once on the build |3| (|2| names the build: head or
# base) and prints its output.
run_benchmark() {
  local name=$1 side=$2 build=$3
  case "$name" in
    small-files)
      BENCH_PACKAGE_CACHE=$CACHE/$side bash "$HERE/bench_vs_nsis.sh" --small-files --ours-only \
        "$build" 1
      ;;
    browser-package)
      BENCH_PACKAGE_CACHE=$CACHE/$side bash "$HERE/bench_vs_nsis.sh" --ours-only "$build" 1
      ;;
    # Its goal (against a minimal program) is not this comparison's: a
    # missed one is no failure here, a missing figure is.
    startup) bash "$HERE/bench_startup.sh" "$build" 20 || true ;;
    unpacking) bash "$HERE/bench_7z_unpack.sh" --ours-only "$build" ;;
    download) bash "$HERE/bench_wininet.sh" --ours-only "$build" ;;
  esac
}

# The first number after the match of the extended regex |1| (which
# matches from the start of a line) in |2|.
figure_in() {
  local line matched
  line=$(grep -E "$1" <<<"$2" | head -1) || return 0
  matched=$(grep -Eo "$1" <<<"$line" | head -1)
  grep -Eo '[0-9]+(\.[0-9]+)?' <<<"${line#"$matched"}" | head -1
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Runs benchmark |1| RUNS times on each build, in turn, and fills the
# arrays RESULT_head_<i> and RESULT_base_<i> (i: the figure's number) with
# the figures. False when a run fails or gives no figure.
measure() {
  local name=$1 run side build output i label kind pattern value
  local -a specs
  mapfile -t specs <<<"${FIGURES[$name]}"
  for i in "${!specs[@]}"; do
    eval "RESULT_head_$i=() RESULT_base_$i=()"
  done
  for run in $(seq "$RUNS"); do
    local sides=(head base)
    ((run % 2)) || sides=(base head)
    for side in "${sides[@]}"; do
      build=$HEAD_BUILD
      [[ $side == base ]] && build=$BASE_BUILD
      if ! output=$(run_benchmark "$name" "$side" "$build" 2>"$WORK/stderr"); then
        log "$name failed on $side ($build):"
        tail -20 "$WORK/stderr" >&2
        printf '%s\n' "$output" | tail -20 >&2
        return 1
      fi
      for i in "${!specs[@]}"; do
        IFS='|' read -r label kind pattern <<<"${specs[$i]}"
        value=$(figure_in "$pattern" "$output")
        if [[ -z "$value" ]]; then
          log "$name on $side printed no figure for $label:"
          printf '%s\n' "$output" | tail -20 >&2
          tail -20 "$WORK/stderr" >&2
          return 1
        fi
        eval "RESULT_${side}_$i+=(\"\$value\")"
      done
      log "$name, run $run, $side: $(for i in "${!specs[@]}"; do
        eval "printf '%s ' \"\${RESULT_${side}_${i}[-1]}\""
      done)(load $(cut -d' ' -f1-3 /proc/loadavg))"
    done
  done
}

# Prints the figure |1| of the last measure and sets RATIO to HEAD's time
# over BASE's.
report() {
  local i=$1 label=$2 kind=$3 head_median base_median unit
  local -n head_values=RESULT_head_$i base_values=RESULT_base_$i
  head_median=$(median "${head_values[@]}")
  base_median=$(median "${base_values[@]}")
  if [[ $kind == rate ]]; then
    unit=MiB/s
    RATIO=$(awk -v h="$head_median" -v b="$base_median" 'BEGIN { printf "%.2f", (h > 0) ? b / h : 1e9 }')
  else
    unit=s
    RATIO=$(awk -v h="$head_median" -v b="$base_median" 'BEGIN { printf "%.2f", (b > 0) ? h / b : 1e9 }')
  fi
  printf '%s:\n' "$label"
  printf '  HEAD %s %s, median %s %s\n' "${head_values[*]}" "$unit" "$head_median" "$unit"
  printf '  BASE %s %s, median %s %s\n' "${base_values[*]}" "$unit" "$base_median" "$unit"
  printf '  ratio HEAD/BASE of the time: %s\n' "$RATIO"
}

echo "HEAD: $HEAD_LABEL, $HEAD_BUILD"
echo "BASE: $BASE_LABEL, $BASE_BUILD"
echo "$RUNS runs of each on each build, in turn; $(nproc) cores; prefix $VELMO_WINEPREFIX"
echo "load at the start: $(uptime)"
slower=()
for name in "${ORDER[@]}"; do
  mapfile -t specs <<<"${FIGURES[$name]}"
  log "measuring $name"
  measure "$name" || exit 2
  suspects=()
  for i in "${!specs[@]}"; do
    IFS='|' read -r label kind _ <<<"${specs[$i]}"
    report "$i" "$label" "$kind"
    awk -v r="$RATIO" -v m="$MAX_SLOWDOWN" 'BEGIN { exit !(r > m) }' && suspects+=("$i")
  done
  echo "  load: $(uptime)"
  ((${#suspects[@]})) || continue
  log "$name: more than $MAX_SLOWDOWN times BASE's time; measured again"
  echo "$name measured again (a figure was more than $MAX_SLOWDOWN times BASE's):"
  measure "$name" || exit 2
  for i in "${suspects[@]}"; do
    IFS='|' read -r label kind _ <<<"${specs[$i]}"
    report "$i" "$label (again)" "$kind"
    if awk -v r="$RATIO" -v m="$MAX_SLOWDOWN" 'BEGIN { exit !(r > m) }'; then
      slower+=("$label ($RATIO)")
    fi
  done
  echo "  load: $(uptime)"
done
echo "load at the end: $(uptime)"
if ((${#slower[@]})); then
  printf 'SLOWER than BASE (more than %s times its time, twice): %s' "$MAX_SLOWDOWN" "${slower[0]}"
  for figure in "${slower[@]:1}"; do
    printf '; %s' "$figure"
  done
  echo
  exit 1
fi
echo "no figure more than $MAX_SLOWDOWN times BASE's"
