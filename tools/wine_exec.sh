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
trap 'kill "$pid" 2>/dev/null || true' TERM INT HUP
rc=0
wait "$pid" || rc=$?
# The tails read what is left once the program has ended, then stop.
wait "$out_tail" "$err_tail" || true
rm -f "$out" "$err"
exit "$rc"
