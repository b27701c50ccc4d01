#!/usr/bin/env bash
# Runs the test suite again and again on loaded cores, to find tests that
# depend on an idle machine.
#
#   tools/stress_tests.sh [runs]                 the whole suite, runs times (default 5),
#                                                from a clean build tree
#   tools/stress_tests.sh --repeat N REGEX       the tests matching REGEX (ctest -R) up
#                                                to N times, until one fails
#
# Every run goes through tools/test.sh (its own fresh Wine prefix, Xvfb and
# servers) under taskset on the cores VELMO_STRESS_CPUS (default: the last
# two), while busy loops of this script's own keep them loaded, each loop
# pinned to one of those cores in turn. The loops are started before and
# stopped (by their pids) after the runs. Prints, per run, the time, the
# load average at its end, the failed tests and the slowest tests; the
# whole logs stay in <build>/stress/.
#
# Two modes are meant:
#   two loaded cores (the default): the suite on two cores, one busy loop on
#     each, the build and CTest two jobs wide;
#   the whole machine oversubscribed, as a shared CI host is: every core, two
#     busy loops per core, CTest as parallel as the cores, e.g. on 8 cores
#       VELMO_STRESS_CPUS=0-7 VELMO_STRESS_HOGS=16 VELMO_JOBS=8 tools/stress_tests.sh 3
#     (more runnable threads than cores all the time: every wait of the
#     suite meets a machine that is late for everything).
#
# VELMO_STRESS_CPUS       cores for taskset: a list of numbers and ranges,
#                         e.g. "6,7" or "0-7" (default: the last two)
# VELMO_STRESS_HOGS       busy loops (default: one per core of the list)
# VELMO_JOBS              build and CTest jobs (default: one per core of the list)
# VELMO_STRESS_NO_CCACHE  set to build without ccache
# VELMO_STRESS_KEEP_BUILD set to keep the build tree (no clean build)
# VELMO_BUILD_DIR         build tree (default: build-stress, inside the clone);
#                         the whole-suite mode deletes it first
# Exits non-zero when any run failed.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

log() { printf '[stress %s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }

mode=suite
runs=5
regex=""
if [[ "${1:-}" == "--repeat" ]]; then
  mode=repeat
  runs=${2:?usage: $0 --repeat N REGEX}
  regex=${3:?usage: $0 --repeat N REGEX}
elif [[ -n "${1:-}" ]]; then
  runs=$1
fi
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { log "not a number of runs: $runs"; exit 2; }

if [[ -z "${VELMO_STRESS_CPUS:-}" ]]; then
  last=$(($(nproc --all) - 1))
  VELMO_STRESS_CPUS=$((last > 0 ? last - 1 : 0)),$last
fi
# The cores of a taskset list ("0-3,6"), one number a line; false on
# anything else or on a core this machine does not have.
expand_cpus() {
  local part from to cpu cores
  cores=$(nproc --all)
  local IFS=,
  for part in $1; do
    if [[ "$part" =~ ^([0-9]+)-([0-9]+)$ ]]; then
      from=${BASH_REMATCH[1]} to=${BASH_REMATCH[2]}
    elif [[ "$part" =~ ^[0-9]+$ ]]; then
      from=$part to=$part
    else
      return 1
    fi
    ((from <= to && to < cores)) || return 1
    for ((cpu = from; cpu <= to; cpu++)); do echo "$cpu"; done
  done
}
if ! cpu_list=$(expand_cpus "$VELMO_STRESS_CPUS") || [[ -z "$cpu_list" ]]; then
  log "not a list of this machine's cores (0 to $(($(nproc --all) - 1))): $VELMO_STRESS_CPUS"
  exit 2
fi
mapfile -t CPUS < <(sort -nu <<<"$cpu_list")
HOGS=${VELMO_STRESS_HOGS:-${#CPUS[@]}}
[[ "$HOGS" =~ ^[0-9]+$ ]] || { log "not a number of busy loops: $HOGS"; exit 2; }
export VELMO_BUILD_DIR=${VELMO_BUILD_DIR:-build-stress}
BUILD=$VELMO_BUILD_DIR
[[ "$BUILD" == /* ]] || BUILD="$ROOT/$BUILD"
# The build and ctest use what the cores give.
export VELMO_JOBS=${VELMO_JOBS:-${#CPUS[@]}}
[[ -z "${VELMO_STRESS_NO_CCACHE:-}" ]] || export CCACHE_DISABLE=1

hog_pids=()
stop_hogs() {
  local pid
  for pid in "${hog_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  hog_pids=()
}
trap stop_hogs EXIT
start_hogs() {
  local i
  # Round the cores, so that each gets its share of the loops.
  for ((i = 0; i < HOGS; i++)); do
    taskset -c "${CPUS[i % ${#CPUS[@]}]}" bash -c 'while :; do :; done' &
    hog_pids+=($!)
  done
  log "$HOGS busy loops on cores $VELMO_STRESS_CPUS, $VELMO_JOBS jobs: pids ${hog_pids[*]}"
}

# The failed tests and the ten slowest of a ctest log.
report() {
  local ctest_log=$1
  echo "  failed:"
  sed -n '/The following tests FAILED:/,/^Errors while running/p' "$ctest_log" |
    grep -E '^\s+[0-9]+ - ' | sed 's/^\s*/    /' || echo "    none"
  echo "  slowest:"
  grep -E 'Test +#[0-9]+: ' "$ctest_log" |
    sed -E 's/.*Test +#[0-9]+: ([^ ]+) .* ([0-9.]+) sec.*/\2 \1/' |
    sort -rn | head -n 10 | awk '{ printf "    %8.1f s  %s\n", $1, $2 }'
}

if [[ $mode == suite && -z "${VELMO_STRESS_KEEP_BUILD:-}" ]]; then
  log "whole suite, $runs runs, on cores $VELMO_STRESS_CPUS; deleting $BUILD for a clean build"
  rm -rf "$BUILD"
fi
mkdir -p "$BUILD/stress"
summary="$BUILD/stress/summary.txt"
: >"$summary"
start_hogs

failed_runs=0
total=$([[ $mode == suite ]] && echo "$runs" || echo 1)
for run in $(seq "$total"); do
  run_log="$BUILD/stress/run-$run.log"
  t0=$SECONDS
  rc=0
  rm -f "$BUILD/ctest-output.log"
  if [[ $mode == suite ]]; then
    log "run $run of $runs"
    taskset -c "$VELMO_STRESS_CPUS" bash tools/test.sh >"$run_log" 2>&1 || rc=$?
  else
    log "repeating the tests matching '$regex' up to $runs times"
    VELMO_CTEST_ARGS="--repeat until-fail:$runs -R $regex" \
      taskset -c "$VELMO_STRESS_CPUS" bash tools/test.sh >"$run_log" 2>&1 || rc=$?
  fi
  seconds=$((SECONDS - t0))
  ((rc == 0)) || failed_runs=$((failed_runs + 1))
  cp "$BUILD/ctest-output.log" "$BUILD/stress/ctest-$run.log" 2>/dev/null || true
  {
    printf 'run %d: %s, %d min %02d s (exit code %d), load average at the end %s\n' "$run" \
      "$([[ $rc == 0 ]] && echo passed || echo FAILED)" $((seconds / 60)) $((seconds % 60)) "$rc" \
      "$(cut -d' ' -f1-3 /proc/loadavg)"
    grep -E '^[0-9]+% tests passed|Total Test time' "$BUILD/stress/ctest-$run.log" 2>/dev/null |
      sed 's/^/  /' || echo "  no test summary (see $run_log)"
    if [[ -f "$BUILD/stress/ctest-$run.log" ]]; then
      report "$BUILD/stress/ctest-$run.log"
    fi
  } | tee -a "$summary"
done
stop_hogs

log "$((total - failed_runs)) of $total runs passed; summary in $summary"
((failed_runs == 0))
