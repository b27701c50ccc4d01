#!/usr/bin/env bash
# Compares SHA-256 throughput of the engine's SecureHash (the Windows build,
# run under Wine) with the native openssl tool on the same file.
#
#   tools/bench_sha256.sh [build-dir]      (default: <repo>/build)
#
# Creates a 256 MiB random file under /tmp, hashes it with
# `openssl dgst -sha256` (timed here) and with secure_hash_benchmark.exe
# (timed inside the program, so Wine's start-up is not counted), checks that
# the digests agree and prints both rates and the ratio engine/native.
# Exits 1 when the digests differ or the ratio is below 0.9.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(dirname "$HERE")
BUILD=${1:-$ROOT/build}
EXE=$BUILD/bin/secure_hash_benchmark.exe
SIZE_MIB=256
MIN_RATIO=0.9

[[ -x "$EXE" || -f "$EXE" ]] || { echo "bench_sha256: $EXE not found; build target secure_hash_benchmark" >&2; exit 2; }
command -v openssl >/dev/null || { echo "bench_sha256: openssl not found" >&2; exit 2; }

# shellcheck source=wine_prefix.sh
source "$HERE/wine_prefix.sh"
# Nothing else runs in the prefix meanwhile (and no other run stops its
# wineserver under the benchmark).
velmo_wine_prefix_hold "tools/bench_sha256.sh"
FILE=$(mktemp /tmp/bench_sha256.XXXXXX)
trap 'rm -f "$FILE"' EXIT
head -c $((SIZE_MIB * 1024 * 1024)) /dev/urandom >"$FILE"
# Both runs read from the page cache.
cat "$FILE" >/dev/null

t0=$(date +%s.%N)
native_digest=$(openssl dgst -sha256 -r "$FILE" | cut -d' ' -f1)
t1=$(date +%s.%N)
native_rate=$(awk -v s="$SIZE_MIB" -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", s / (b - a) }')

# Wine sees the Linux root as drive Z:.
win_path="Z:${FILE//\//\\}"
output=$("$HERE/wine_exec.sh" "$EXE" "$win_path" | tr -d '\r')
engine_digest=$(awk '$1 == "digest" { print $2 }' <<<"$output")
engine_rate=$(awk '$1 == "MiB/s" { print $2 }' <<<"$output")
hash_only_rate=$(awk '$1 == "hash-only" { print $3 }' <<<"$output")
if [[ -z "$engine_digest" || -z "$engine_rate" ]]; then
  echo "bench_sha256: the benchmark printed no result:" >&2
  printf '%s\n' "$output" >&2
  exit 1
fi

echo "native openssl:  $native_rate MiB/s  $native_digest"
echo "engine (Wine):   $engine_rate MiB/s  $engine_digest  (hashing alone: $hash_only_rate MiB/s)"
if [[ "${engine_digest,,}" != "${native_digest,,}" ]]; then
  echo "bench_sha256: DIGESTS DIFFER" >&2
  exit 1
fi
ratio=$(awk -v e="$engine_rate" -v n="$native_rate" 'BEGIN { printf "%.2f", e / n }')
echo "ratio engine/native: $ratio (minimum $MIN_RATIO)"
awk -v r="$ratio" -v m="$MIN_RATIO" 'BEGIN { exit !(r >= m) }' || {
  echo "bench_sha256: engine is slower than ${MIN_RATIO}x native" >&2
  exit 1
}
