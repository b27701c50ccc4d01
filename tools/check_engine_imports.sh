#!/usr/bin/env bash
# Fails when the engine imports any DLL at load time but kernel32 and the
# Universal C Runtime's api-ms-win-crt-* sets: every other system library is
# delay-loaded, so that "--version" and the other quick answers load nothing
# more (docs/design.md).
#   bash tools/check_engine_imports.sh [build-dir]   (default: build)
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=${1:-build}
engine=$build/bin/installer_engine.dll
objdump=${MINGW_PREFIX:-x86_64-w64-mingw32}-objdump
[[ -f "$engine" ]] || { echo "check_engine_imports: $engine not found; build first" >&2; exit 2; }
# The ordinary import table lists one "DLL Name:" line per DLL; the
# delay-loaded ones are not in it.
mapfile -t imports < <("$objdump" -p "$engine" | awk '/DLL Name:/ { print $3 }')
if [[ ${#imports[@]} == 0 ]]; then
  echo "check_engine_imports: objdump listed no import of $engine" >&2
  exit 2
fi
bad=()
for dll in "${imports[@]}"; do
  shopt -s nocasematch
  if [[ "$dll" != kernel32.dll && "$dll" != api-ms-win-crt-*.dll ]]; then
    bad+=("$dll")
  fi
  shopt -u nocasematch
done
if [[ ${#bad[@]} != 0 ]]; then
  echo "check_engine_imports: $engine imports at load time: ${bad[*]}" >&2
  echo "Delay-load it: add it to the engine's list in desktop/windows/installer/CMakeLists.txt" >&2
  exit 1
fi
echo "the engine imports at load time only: ${imports[*]}"
