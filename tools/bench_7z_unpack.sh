#!/usr/bin/env bash
# Compares the unpacking speed of the engine's SevenZipExtractor (the Windows
# build, run under Wine) with the native `7zz x -mmt1` on the same solid
# archive of about 300 MiB of PE files.
#
#   tools/bench_7z_unpack.sh [--ours-only] [build-dir]   (default: <repo>/build)
#
# Uses <build>/bin/payload_fixtures/large/pe300.7z (target
# payload_large_archive) and lzma_util_benchmark.exe. Both unpack into fresh
# folders under /tmp, the archive read from the page cache; the native run is
# timed here, the engine inside its program. Checks that both wrote the same
# bytes, prints both rates and the ratio engine/native, and exits 1 when the
# ratio is below 0.8.
#
# With --ours-only 7zz does not run and no goal is checked: the engine's
# bytes are checked against the fixture's own count of them, and its rate
# is printed alone (for tools/bench_compare.sh, which compares two builds).
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(dirname "$HERE")
OURS_ONLY=
if [[ "${1:-}" == --ours-only ]]; then
  OURS_ONLY=1
  shift
fi
BUILD=${1:-$ROOT/build}
EXE=$BUILD/bin/lzma_util_benchmark.exe
ARCHIVE=$BUILD/bin/payload_fixtures/large/pe300.7z
MIN_RATIO=0.8

for f in "$EXE" "$ARCHIVE"; do
  [[ -f "$f" ]] || { echo "bench_7z_unpack: $f not found; build lzma_util_benchmark and payload_large_archive" >&2; exit 2; }
done
command -v 7zz >/dev/null || { echo "bench_7z_unpack: 7zz not found" >&2; exit 2; }

# shellcheck source=wine_prefix.sh
source "$HERE/wine_prefix.sh"
# Nothing else runs in the prefix meanwhile (and no other run stops its
# wineserver under the benchmark).
velmo_wine_prefix_hold "tools/bench_7z_unpack.sh"
WORK=$(mktemp -d /tmp/bench_7z_unpack.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cat "$ARCHIVE" >/dev/null

if [[ -n "$OURS_ONLY" ]]; then
  # The fixture's maker wrote the number of files and of bytes beside it.
  native_bytes=$(sed -n 2p "$ARCHIVE.txt")
else
  t0=$(date +%s.%N)
  7zz x -mmt1 -y -o"$WORK/native" "$ARCHIVE" >/dev/null
  t1=$(date +%s.%N)
  native_bytes=$(find "$WORK/native" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
  native_rate=$(awk -v b="$native_bytes" -v a="$t0" -v c="$t1" \
    'BEGIN { printf "%.1f", b / 1048576 / (c - a) }')
  rm -rf "$WORK/native"
fi

# Wine sees the Linux root as drive Z:.
output=$("$HERE/wine_exec.sh" "$EXE" "Z:${ARCHIVE//\//\\}" "Z:${WORK//\//\\}\\engine" | tr -d '\r')
engine_bytes=$(awk '$1 == "bytes" { print $2 }' <<<"$output")
engine_rate=$(awk '$1 == "MiB/s" { print $2 }' <<<"$output")
if [[ -z "$engine_rate" ]]; then
  echo "bench_7z_unpack: the benchmark printed no result:" >&2
  printf '%s\n' "$output" >&2
  exit 1
fi
if [[ "$engine_bytes" != "$native_bytes" ]]; then
  echo "bench_7z_unpack: the engine wrote $engine_bytes bytes, the archive holds $native_bytes" >&2
  exit 1
fi
if [[ -n "$OURS_ONLY" ]]; then
  echo "engine (Wine):    $engine_rate MiB/s"
  exit 0
fi

ratio=$(awk -v e="$engine_rate" -v n="$native_rate" 'BEGIN { printf "%.2f", e / n }')
echo "native 7zz -mmt1: $native_rate MiB/s"
echo "engine (Wine):    $engine_rate MiB/s"
echo "ratio engine/native: $ratio (at least $MIN_RATIO required)"
awk -v r="$ratio" -v m="$MIN_RATIO" 'BEGIN { exit !(r >= m) }'
