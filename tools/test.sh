#!/usr/bin/env bash
# Builds everything and runs the whole test suite under Wine:
#   bash tools/test.sh            (as root on a fresh Debian 12 machine too)
# Exits non-zero when the set-up, the build or any test fails.
#
# VELMO_BUILD_DIR    build tree (default: build)
# VELMO_CTEST_ARGS   extra ctest arguments, e.g. "-R base_unittests"
# VELMO_WINEPREFIX   the Wine prefix of the run (default: one of this clone's
#                    own, ~/.cache/velmo/suite-<hash of the clone's folder>);
#                    it is made anew at every run: point it at no prefix
#                    that holds anything to keep
set -euo pipefail
VELMO_TOOL=test
VELMO_FRESH_PREFIX=1
# The tests make installer processes crash on purpose (VELMO_TEST_CRASH).
VELMO_TEST_CRASH_TRIGGER=ON
# shellcheck source=harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
# The tests compare the machine before and after installations: they run in
# a prefix that nothing else uses (not tools/main.sh, not the benchmarks),
# made fresh here, so that nothing an earlier run left counts. A second
# suite of the same clone waits for the first.
if [[ -z "${VELMO_WINEPREFIX:-}" ]]; then
  VELMO_WINEPREFIX=$(velmo_clone_prefix suite)
fi
export VELMO_WINEPREFIX
velmo_wine_prefix_hold "tools/test.sh"
trap velmo_cleanup EXIT

velmo_prepare

velmo_log "running the tests"
CTEST_LOG="$VELMO_BUILD/ctest-output.log"
rc=0
# Each test also has its own TIMEOUT property; --timeout covers any without.
# shellcheck disable=SC2086
ctest --test-dir "$VELMO_BUILD" --output-on-failure -j"$VELMO_JOBS" \
  --timeout 600 --no-tests=error ${VELMO_CTEST_ARGS:-} 2>&1 | tee "$CTEST_LOG" || rc=$?
summary=$(grep -E '^[0-9]+% tests passed' "$CTEST_LOG" | tail -n1 || true)
echo
echo "${summary:-ctest printed no summary}"
if [[ $rc != 0 ]]; then
  velmo_log "FAILED (ctest exit code $rc)"
  exit "$rc"
fi
velmo_log "all tests passed"
