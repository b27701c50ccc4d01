#!/usr/bin/env bash
# Makes a delay-load import library for a system DLL from the toolchain's own
# import library: the same function names, resolved on their first call.
#   tools/make_delay_import_lib.sh <import library .a> <DLL name> <output .a>
set -euo pipefail
lib=$1
dll=$2
out=$3
prefix=${MINGW_PREFIX:-x86_64-w64-mingw32}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  "$prefix-nm" -g --defined-only "$lib" |
    awk '$2 == "I" && $3 ~ /^__imp_/ { sub(/^__imp_/, "", $3); print $3 }' | sort -u
} >"$tmp/exports.def"
mkdir -p "$(dirname "$out")"
"$prefix-dlltool" --input-def "$tmp/exports.def" --output-delaylib "$tmp/out.a" --dllname "$dll"
mv "$tmp/out.a" "$out"
