#!/usr/bin/env bash
# Races our offline installer against an NSIS 3 installer of the same files.
#
#   tools/bench_vs_nsis.sh [--small-files] [--ours-only] [build-dir] [runs]
#                                  (default: <repo>/build, 3 runs)
#
# Builds a browser-sized package: the demo package (tools: installer.exe,
# installer_engine.dll and launcher_fixture.exe of the build) plus at least
# 300 MiB of the 64-bit PE DLLs that Debian's Wine ships, over 300 files in
# all. Makes our offline installer of it (make_installer.py) and an NSIS
# installer of the same files (Debian's nsis: Unicode, Target amd64-unicode,
# solid LZMA) that puts them where ours does: the files list into the
# version folder, launcher.exe into the install folder. Then, in each run,
# installs both silently under Wine into fresh folders, ours first in odd
# runs and NSIS first in even ones, checks that both installed the
# package's files byte for byte, and uninstalls ours again (timed apart).
# Prints every time, the medians and their ratio, and exits 1 when ours
# takes more than 0.9 of NSIS's time.
#
# Ours runs as a user would start it, with everything it always does: the
# payload unpacked and checked (CRC of every entry), the back end started,
# every change made through the transaction that a failure rolls back, the
# installer log written, registry, shortcuts and scheduled task made.
# Statistics are switched off: a benchmark must not wait for a network.
#
# With --small-files the package is the demo package plus 9,000 generated
# files of 64 bytes to 190 KiB in nested folders (documentation, locale
# files and a language's library in a real package), and a third program
# runs in every run, alternating with the two installers: write_once_floor
# (a minimal Win32 program) writes the same files once, its writing timed
# from inside: the floor. It then prints the floor's median too and exits 1
# when ours takes more than 0.7 of NSIS's time or more than 1.3 times the
# floor.
#
# Every run of ours also reports, from its installer log, how long the
# unpacking took ("Unpacking files from archive" to "Package ready"), and
# how long its uninstallation took: until the uninstaller exited (what a
# user waits for), and until its clean-up batch file was done.
#
# With --ours-only neither NSIS nor the floor is made or run, and no goal
# is checked: ours installs the package (its files checked against the
# package's) and is timed alone, for tools/bench_compare.sh, which compares
# two builds of ours.
#
# BENCH_PACKAGE_CACHE=<folder> keeps the package (and its files) there and
# reuses it in later runs: making it takes a minute or two.
#
# Installs nsis with apt-get when makensis is missing (as tools/setup.sh does).
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(dirname "$HERE")
SMALL_FILES=
OURS_ONLY=
while [[ "${1:-}" == --* ]]; do
  case "$1" in
    --small-files) SMALL_FILES=1 ;;
    --ours-only) OURS_ONLY=1 ;;
    *) echo "bench_vs_nsis: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
BUILD=${1:-$ROOT/build}
RUNS=${2:-3}
BIN=$BUILD/bin
MAX_RATIO=0.9
PE_SOURCE=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
PE_BYTES=$((300 * 1024 * 1024))
GENERATED_FILES=9000
MAX_FLOOR_RATIO=1.3
if [[ -n "$SMALL_FILES" ]]; then
  MAX_RATIO=0.7
fi
# Blocks of the 7z archive are decoded independently (in parallel).
SOLID_BLOCK=32m

log() { printf '[bench_vs_nsis %s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }

FLOOR=
[[ -n "$SMALL_FILES" && -z "$OURS_ONLY" ]] && FLOOR=1
for f in installer.exe installer_engine.dll launcher_fixture.exe ${FLOOR:+write_once_floor.exe}; do
  [[ -f "$BIN/$f" ]] || { log "$BIN/$f not found; build the project first"; exit 2; }
done
[[ -d "$PE_SOURCE" ]] || { log "$PE_SOURCE not found (Debian's wine64)"; exit 2; }
if [[ -z "$OURS_ONLY" ]] && ! command -v makensis >/dev/null; then
  log "installing nsis"
  DEBIAN_FRONTEND=noninteractive apt-get install -y nsis >/dev/null
fi
command -v 7zz >/dev/null || { log "7zz not found (package 7zip)"; exit 2; }

# shellcheck source=wine_prefix.sh
source "$HERE/wine_prefix.sh"
velmo_wine_prefix_hold "tools/bench_vs_nsis.sh"
velmo_wine_prefix_create
# A persistent server (it may be running already) and Wine's services,
# started before anything is timed.
"$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
"$VELMO_WINE" wineboot </dev/null >/dev/null 2>&1
wine_run() { "$VELMO_WINE" "$@" </dev/null; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }

WORK=$(mktemp -d /tmp/bench_vs_nsis.XXXXXX)
version=""
# An installation of ours that a failed run left is uninstalled before its
# folder goes: deleted while registered, it would stay in the prefix's
# Add/Remove Programs list (and its task) for good.
cleanup() {
  local folder
  for folder in "$WORK"/run*/ours; do
    [[ -n "$version" && -f "$folder/$version/installer.exe" ]] || continue
    uninstall_ours "$folder" || true
  done
  [[ -n "${BENCH_KEEP:-}" ]] || rm -rf "$WORK"
}
trap cleanup EXIT

# --- The package and both installers. ---
PACKAGE=${BENCH_PACKAGE_CACHE:-$WORK/package}
[[ -z "$SMALL_FILES" ]] || PACKAGE=$PACKAGE/small_files
# A kept package is reused only when it carries this build's installer.
if [[ -f "$PACKAGE/package.7z" && -f "$PACKAGE/tree/files_list" ]] &&
   cmp -s "$PACKAGE/tree/installer.exe" "$BIN/installer.exe" &&
   cmp -s "$PACKAGE/tree/installer_engine.dll" "$BIN/installer_engine.dll"; then
  log "reusing the package in $PACKAGE"
else
  log "making the package ($SOLID_BLOCK solid blocks)"
  if [[ -n "$SMALL_FILES" ]]; then
    contents=(--generated-files "$GENERATED_FILES")
  else
    contents=(--extra-files "$PE_SOURCE" --extra-bytes "$PE_BYTES")
  fi
  python3 "$ROOT/testing/demo_package/make_demo_package.py" \
    --installer "$BIN/installer.exe" --engine "$BIN/installer_engine.dll" \
    --browser "$BIN/launcher_fixture.exe" --launcher "$BIN/launcher_fixture.exe" \
    --browser-name velmo.exe "${contents[@]}" \
    --solid-block-size "$SOLID_BLOCK" --tree "$PACKAGE/tree" --output "$PACKAGE/package.7z"
fi
mkdir -p "$WORK/ours"
python3 "$HERE/make_installer.py" --image "$BIN/installer.exe" --package "$PACKAGE/package.7z" \
  --output "$WORK/ours/velmo_bench_installer.exe"
# The host loads the engine from its own folder.
cp "$BIN/installer_engine.dll" "$WORK/ours/"
version=$(wine_run "$BIN/installer.exe" --version | tr -d '\r\n')
[[ -n "$version" ]] || { log "installer.exe --version printed nothing"; exit 1; }

# The sizes of the files list's files that match the regular expression
# |1|, one a line (one process: a command per file takes minutes on a
# loaded machine).
list_sizes() {
  python3 - "$PACKAGE/tree" "$1" <<'EOF'
import os, re, sys
tree, pattern = sys.argv[1:3]
with open(os.path.join(tree, "files_list"), encoding="utf-8") as f:
    for name in f.read().splitlines():
        if name and re.search(pattern, name):
            print(os.path.getsize(os.path.join(tree, *name.split("\\"))))
EOF
}
files=$(tr -d '\r' <"$PACKAGE/tree/files_list" | grep -c .)
bytes=$(list_sizes '' | awk '{ s += $1 } END { print s }')
log "package: $files files, $bytes bytes, version $version; 7z archive $(stat -c %s "$PACKAGE/package.7z") bytes"
if [[ -n "$SMALL_FILES" ]]; then
  largest=$(list_sizes '^[a-z]*\\pkg' | sort -n | tail -1)
  if ((files < 8000 || largest >= 200 * 1024)); then
    log "want 8,000 files under 200 KB; the package has $files, the largest generated $largest bytes"
    exit 2
  fi
elif ((files < 300 || bytes < PE_BYTES)); then
  log "the package is smaller than a browser's (300 files, $PE_BYTES bytes)"
  exit 2
fi

# The NSIS script: every entry of the files list into the version folder,
# launcher.exe into the install folder. makensis runs here, so the sources
# are Linux paths; the targets are Windows ones.
write_nsis_script() {
  python3 - "$PACKAGE/tree" "$version" <<'EOF'
import os, sys
tree, version = sys.argv[1:3]
with open(os.path.join(tree, "files_list"), encoding="utf-8") as f:
    names = [n for n in f.read().splitlines() if n]
print('Unicode true')
print('Target amd64-unicode')
print('SetCompressor /SOLID lzma')
print('SilentInstall silent')
print('RequestExecutionLevel user')
print('Name "Velmo"')
print('OutFile "nsis_installer.exe"')
print('InstallDir "$LOCALAPPDATA\\Velmo NSIS"')
print('Section')
folders = {}
for name in names:
    folders.setdefault(name.rpartition("\\")[0], []).append(name)
for folder in sorted(folders):
    print('  SetOutPath "$INSTDIR\\%s%s"' % (version, "\\" + folder if folder else ""))
    for name in folders[folder]:
        print('  File "%s/%s"' % (tree, name.replace("\\", "/")))
print('  SetOutPath "$INSTDIR"')
print('  File "%s/launcher.exe"' % tree)
print('SectionEnd')
EOF
}

if [[ -n "$OURS_ONLY" ]]; then
  log "ours $(stat -c %s "$WORK/ours/velmo_bench_installer.exe") bytes (no NSIS installer: --ours-only)"
else
  if [[ -f "$PACKAGE/nsis_installer.exe" && "$PACKAGE/nsis_installer.exe" -nt "$PACKAGE/package.7z" ]]; then
    cp "$PACKAGE/nsis_installer.exe" "$WORK/"
  else
    log "making the NSIS installer"
    write_nsis_script >"$WORK/bench.nsi"
    (cd "$WORK" && makensis -V2 bench.nsi >/dev/null)
    [[ -z "${BENCH_PACKAGE_CACHE:-}" ]] || cp "$WORK/nsis_installer.exe" "$PACKAGE/"
  fi
  log "NSIS installer $(stat -c %s "$WORK/nsis_installer.exe") bytes, ours $(stat -c %s "$WORK/ours/velmo_bench_installer.exe") bytes"
fi

# --- The race. ---
SWITCHES=(--silent --allusers=0 --enable-installer-stats=0 --launchbrowser=0
          --with-feature:installer-pref-default-overrides-support=off)

run_ours() {
  local folder=$1
  wine_run "$WORK/ours/velmo_bench_installer.exe" "${SWITCHES[@]}" \
    "--installfolder=$(winpath "$folder")" "--temp-folder=$(winpath "$WORK/temp")"
}
run_nsis() { wine_run "$WORK/nsis_installer.exe" /S "/D=$(winpath "$1")"; }
# The floor's own time of its writing, in seconds.
run_floor() {
  local out
  out=$(wine_run "$BIN/write_once_floor.exe" "$(winpath "$PACKAGE/tree")" \
    "$(winpath "$PACKAGE/tree/files_list")" "$(winpath "$1")" 2>&1) ||
    { log "write_once_floor failed: $out"; return 1; }
  sed -n 's/^write_once_ms=\([0-9]*\).*/\1/p' <<<"$out" | tr -d '\r' |
    awk '{ printf "%.3f", $1 / 1000 }'
}
# True once |1| is gone; waits up to two minutes (a loaded machine).
wait_gone() {
  local _
  for _ in $(seq 600); do
    [[ -e "$1" ]] || return 0
    sleep 0.2
  done
  return 1
}
# Whether an uninstall entry of the prefix names the folder |1|.
registered() {
  local key
  for key in 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' \
             'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall'; do
    wine_run reg query "$key" /s /v InstallLocation 2>/dev/null | tr -d '\r' |
      grep -qiF "$(winpath "$1")" && return 0
  done
  return 1
}
# Uninstalls ours from |1| and waits until it is over: the uninstaller's
# exit, then its clean-up batch file (k.bat, which removes what the
# uninstaller could not and deletes itself last). Fails when anything of
# the installation stays registered or in place.
# Sets uninstall_exited and uninstall_cleaned to the seconds from the start
# of the uninstaller until it exited and until its clean-up was done.
uninstall_ours() {
  local folder=$1 rc=0 t0 t1 t2
  t0=$(date +%s.%N)
  wine_run "$folder/$version/installer.exe" --uninstall --silent --enable-installer-stats=0 || rc=$?
  t1=$(date +%s.%N)
  if [[ $rc != 0 ]]; then
    log "the uninstallation of $folder failed (exit code $rc)"
    return 1
  fi
  if ! wait_gone "$folder/launcher.exe" || ! wait_gone "$folder/k.bat"; then
    log "the clean-up after the uninstallation of $folder did not end"
    return 1
  fi
  t2=$(date +%s.%N)
  uninstall_exited=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
  uninstall_cleaned=$(awk -v a="$t0" -v b="$t2" 'BEGIN { printf "%.3f", b - a }')
  if registered "$folder"; then
    log "$folder is still registered after its uninstallation"
    return 1
  fi
}

# Seconds that "$@" takes, to the millisecond.
timed() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || { log "failed: $*"; return 1; }
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}

# Whether |1| holds exactly the package's files, byte for byte: the files
# list in its version folder, nothing more there, and launcher.exe (|2|
# names the installer for the log).
same_files() {
  python3 - "$PACKAGE/tree" "$1" "$version" "$2" <<'EOF'
import filecmp, os, sys
tree, folder, version, who = sys.argv[1:5]
with open(os.path.join(tree, "files_list"), encoding="utf-8") as f:
    names = [n.split("\\") for n in f.read().splitlines() if n]
for parts in names:
    if not filecmp.cmp(os.path.join(tree, *parts), os.path.join(folder, version, *parts),
                       shallow=False):
        sys.exit("%s: differs from the package: %s" % (who, "\\".join(parts)))
if not filecmp.cmp(os.path.join(tree, "launcher.exe"), os.path.join(folder, "launcher.exe"),
                   shallow=False):
    sys.exit("%s: differs from the package: launcher.exe" % who)
found = sum(len(files) for _, _, files in os.walk(os.path.join(folder, version)))
if found != len(names):
    sys.exit("%s has %d files in %s, the package %d" % (who, found, version, len(names)))
EOF
}

# Seconds from "Unpacking files from archive" to "Package ready" in the
# installer logs of the prefix written after the file |1| was made.
unpacking_seconds() {
  local logs=()
  mapfile -t logs < <(find "$WINEPREFIX"/drive_c/users/*/Temp/"Velmo Installer" -maxdepth 1 \
    -name '*_installer_*.log' -newer "$1" 2>/dev/null)
  ((${#logs[@]})) || return 0
  cat "${logs[@]}" | tr -d '\r' | awk '
    # [MMDD/HHMMSS.mmm:...
    function at(line, t) {
      t = substr(line, index(line, "/") + 1, 10)
      return substr(t, 1, 2) * 3600 + substr(t, 3, 2) * 60 + substr(t, 5)
    }
    /Unpacking files from archive/ && !seen_start { start = at($0); seen_start = 1 }
    /Package ready\./ && !seen_end { end = at($0); seen_end = 1 }
    END {
      if (seen_start && seen_end) {
        d = end - start
        if (d < 0) d += 86400
        printf "%.3f", d
      }
    }'
}

[[ -n "$OURS_ONLY" ]] || cat "$WORK/nsis_installer.exe" >/dev/null
cat "$WORK/ours/velmo_bench_installer.exe" >/dev/null
ours_times=() nsis_times=() floor_times=() unpack_times=() exited_times=() cleaned_times=()
log "load before the runs: $(uptime)"
for run in $(seq "$RUNS"); do
  ours_folder="$WORK/run$run/ours" nsis_folder="$WORK/run$run/nsis"
  floor_folder="$WORK/run$run/floor"
  mkdir -p "$WORK/run$run" "$WORK/temp"
  t_floor='' t_nsis=''
  touch "$WORK/run$run/started"
  if [[ -n "$OURS_ONLY" ]]; then
    t_ours=$(timed run_ours "$ours_folder")
  elif ((run % 2)); then
    t_ours=$(timed run_ours "$ours_folder")
    t_nsis=$(timed run_nsis "$nsis_folder")
    [[ -z "$FLOOR" ]] || t_floor=$(run_floor "$floor_folder")
  else
    [[ -z "$FLOOR" ]] || t_floor=$(run_floor "$floor_folder")
    t_nsis=$(timed run_nsis "$nsis_folder")
    t_ours=$(timed run_ours "$ours_folder")
  fi
  t_unpack=$(unpacking_seconds "$WORK/run$run/started")
  [[ -n "$t_unpack" ]] || { log "run $run: no unpacking found in the installer logs"; exit 1; }
  same_files "$ours_folder" ours
  [[ -n "$OURS_ONLY" ]] || same_files "$nsis_folder" NSIS
  uninstall_ours "$ours_folder" || exit 1
  log "run $run: ours $t_ours s (unpacking $t_unpack s)${t_nsis:+, NSIS $t_nsis s}${t_floor:+, floor $t_floor s}" \
    "(installed files identical to the package's); uninstallation $uninstall_exited s, clean-up done after $uninstall_cleaned s"
  ours_times+=("$t_ours") unpack_times+=("$t_unpack")
  exited_times+=("$uninstall_exited") cleaned_times+=("$uninstall_cleaned")
  [[ -z "$t_nsis" ]] || nsis_times+=("$t_nsis")
  [[ -z "$t_floor" ]] || floor_times+=("$t_floor")
  rm -rf "$WORK/run$run" "$WORK/temp"
done

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ours=$(median "${ours_times[@]}")
echo "package: $files files, $bytes bytes ($(nproc) cores)"
echo "ours (velmo_bench_installer.exe --silent): ${ours_times[*]} s, median $ours s"
echo "unpacking (from the installer log): ${unpack_times[*]} s, median $(median "${unpack_times[@]}") s"
echo "uninstallation (until the uninstaller exits): ${exited_times[*]} s, median $(median "${exited_times[@]}") s"
echo "uninstallation (until its clean-up is done): ${cleaned_times[*]} s, median $(median "${cleaned_times[@]}") s"
if [[ -n "$OURS_ONLY" ]]; then
  echo "load after the runs: $(uptime)"
  exit 0
fi
nsis=$(median "${nsis_times[@]}")
ratio=$(awk -v o="$ours" -v n="$nsis" 'BEGIN { printf "%.2f", o / n }')
echo "NSIS (nsis_installer.exe /S):              ${nsis_times[*]} s, median $nsis s"
echo "ratio ours/NSIS: $ratio (at most $MAX_RATIO required)"
echo "load after the runs: $(uptime)"
if [[ -n "$SMALL_FILES" ]]; then
  floor=$(median "${floor_times[@]}")
  floor_ratio=$(awk -v o="$ours" -v f="$floor" 'BEGIN { printf "%.2f", o / f }')
  echo "floor (write_once_floor.exe, writing only): ${floor_times[*]} s, median $floor s"
  echo "ratio ours/floor: $floor_ratio (at most $MAX_FLOOR_RATIO required)"
  awk -v r="$ratio" -v m="$MAX_RATIO" -v f="$floor_ratio" -v fm="$MAX_FLOOR_RATIO" \
    'BEGIN { exit !(r <= m && f <= fm) }'
else
  awk -v r="$ratio" -v m="$MAX_RATIO" 'BEGIN { exit !(r <= m) }'
fi
