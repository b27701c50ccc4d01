#!/usr/bin/env bash
# Runs a Windows program under Wine with the suite's environment; CTest uses it
# as CMAKE_CROSSCOMPILING_EMULATOR, and it works by hand too:
#   tools/wine_exec.sh build/bin/foo_unittests.exe --gtest_filter=Foo.*
# The exit status is the program's exit code; the Linux side sees only its low
# 8 bits, which is enough to tell pass from fail.
set -euo pipefail
# shellcheck source=wine_prefix.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine_prefix.sh"
velmo_wine_prefix_create

# Every Windows process the program starts inherits its Linux standard output
# and error, whatever its Windows handles say, and some outlive it: Wine's
# desktop process, started by the first program that needs a window, lives
# as long as any program uses the desktop. Given the caller's pipe (CTest's,
# or a command substitution's), such a process would keep it open and the
# caller waiting long after the program ended. So the program writes into
# files of its own, which are passed on as they grow and only until the
# program has ended.
out=$(mktemp "${TMPDIR:-/tmp}/velmo-wine-out.XXXXXX")
err=$(mktemp "${TMPDIR:-/tmp}/velmo-wine-err.XXXXXX")
"$VELMO_WINE" "$@" </dev/null >"$out" 2>"$err" &
pid=$!
tail -n +1 -s 0.1 --pid="$pid" -f "$out" &
out_tail=$!
tail -n +1 -s 0.1 --pid="$pid" -f "$err" >&2 &
err_tail=$!
# A program that may hang past its caller's time-out (VELMO_HANG_REPORT_AFTER,
# in seconds) gets the prefix's processes listed from the Linux side: their
# state and what the kernel has them wait in name a hang even when the
# Windows side can no longer report anything (a stopped process, a stuck
# wineserver).
hang_report=
state_of() { sed 's/.*) //' "$1/stat" 2>/dev/null | cut -d' ' -f1; }
if [[ -n "${VELMO_HANG_REPORT_AFTER:-}" ]]; then
  (
    set +e
    # The pause must not outlive the report, nor hold the caller's output.
    trap 'kill "$pause" 2>/dev/null; exit 0' TERM
    sleep "$VELMO_HANG_REPORT_AFTER" </dev/null >/dev/null 2>&1 &
    pause=$!
    wait "$pause"
    kill -0 "$pid" 2>/dev/null || exit 0
    echo "wine_exec: still running after ${VELMO_HANG_REPORT_AFTER} s"
    server=$(velmo_wine_server_pid)
    echo "the prefix's wineserver: ${server:-not running}"
    velmo_wine_server_said "  it wrote: "
    echo "the prefix's processes:"
    for proc in /proc/[0-9]*; do
      grep -qzxF "WINEPREFIX=$WINEPREFIX" "$proc/environ" 2>/dev/null || continue
      printf '%s %s wchan=%s: %s\n' "${proc#/proc/}" "$(state_of "$proc")" \
        "$(cat "$proc/wchan" 2>/dev/null)" "$(tr '\0' ' ' <"$proc/cmdline" 2>/dev/null)"
      for task in "$proc"/task/*; do
        printf '  thread %s %s wchan=%s\n' "${task##*/}" "$(state_of "$task")" \
          "$(cat "$task/wchan" 2>/dev/null)"
      done
    done
  ) >&2 &
  hang_report=$!
fi
# Without its wineserver no Wine process of the prefix can go on: a program
# whose server ends under it would wait for its caller's time-out. When the
# run's persistent server (VELMO_WINESERVER_PID, set by tools/harness.sh)
# ends while the program runs, the program is ended at once, with what the
# server wrote.
server_watch=
if [[ -n "${VELMO_WINESERVER_PID:-}" ]] && kill -0 "$VELMO_WINESERVER_PID" 2>/dev/null; then
  (
    set +e
    trap 'kill "$pause" 2>/dev/null; exit 0' TERM
    while kill -0 "$pid" 2>/dev/null; do
      if ! kill -0 "$VELMO_WINESERVER_PID" 2>/dev/null; then
        echo "wine_exec: the prefix's wineserver (pid $VELMO_WINESERVER_PID) has ended;" \
          "nothing in the prefix can go on, so the program is ended"
        velmo_wine_server_said "  it wrote: "
        kill -KILL "$pid" 2>/dev/null
        exit 0
      fi
      sleep 2 </dev/null >/dev/null 2>&1 &
      pause=$!
      wait "$pause"
    done
  ) >&2 &
  server_watch=$!
fi
trap 'kill "$pid" $hang_report $server_watch 2>/dev/null || true' TERM INT HUP
rc=0
wait "$pid" || rc=$?
for watcher in $hang_report $server_watch; do
  kill "$watcher" 2>/dev/null || true
done
# A program whose server went away may still exit 0 (Wine ends the
# prefix's processes as if they returned), with failures already written:
# a run without its server never counts as passed.
if ((rc == 0)) && [[ -n "$server_watch" ]] && ! kill -0 "$VELMO_WINESERVER_PID" 2>/dev/null; then
  echo "wine_exec: the prefix's wineserver (pid $VELMO_WINESERVER_PID) ended during the run;" \
    "the program's exit code 0 does not count" >&2
  rc=1
fi
# The tails read what is left once the program has ended, then stop.
wait "$out_tail" "$err_tail" || true
rm -f "$out" "$err"
exit "$rc"
