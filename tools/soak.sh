#!/usr/bin/env bash
# Soak run: many silent installations and uninstallations in one Wine prefix,
# as a fleet of machines runs them, then what is left compared with the
# state before the first cycle.
#
#   bash tools/soak.sh [cycles]        (default 40)
#
# Cycle i installs silently with velmo_installer_full.exe, per user when i is
# odd and for all users when i is even, with the default-browser
# registration; every 4th cycle then upgrades with
# velmo_installer_full_next.exe (one major version later); then it
# uninstalls silently with the installer of the version folder and waits for
# the clean-up batch file to remove the install folder. Every run must exit
# with 0.
#
# Before the first cycle and after the last it lists the files of the
# prefix's drive_c (path and size) and exports HKCU and HKLM with `reg
# export`. It then prints every difference, the product's first (anything
# naming the product, its install folders, or the keys and values the
# browser's registration touches), and the figures: run times, version
# folders, ".old" files, PendingFileRenameOperations entries, installer logs,
# the crash reporter's log and any "debug.log" in the temporary folder.
# Exits non-zero when a run failed or a product difference other than the
# values kept on purpose ("Last Stable Install Path", "Previous Default
# Browser") is left.
#
# It builds like tools/main.sh unless VELMO_SOAK_NO_BUILD=1 (then the build
# tree must hold the installers). Results go to <build>/soak/.
# Not part of the test suite: 40 cycles take several minutes.
set -euo pipefail
VELMO_TOOL=soak
# shellcheck source=harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
trap velmo_cleanup EXIT

CYCLES=${1:-40}
if [[ "${VELMO_SOAK_NO_BUILD:-0}" == 1 ]]; then
  cd "$VELMO_ROOT"
  velmo_start_xvfb
  velmo_wine_server_stop
  velmo_wine_server_start
else
  velmo_prepare
fi

BIN="$VELMO_BUILD/bin"
FULL="$BIN/velmo_installer_full.exe"
NEXT="$BIN/velmo_installer_full_next.exe"
for f in "$FULL" "$NEXT"; do
  [[ -f "$f" ]] || { velmo_log "error: $f was not built"; exit 1; }
done
OUT="$VELMO_BUILD/soak"
rm -rf "$OUT"
mkdir -p "$OUT"

wine_run() { "$VELMO_ROOT/tools/wine_exec.sh" "$@"; }
unix_text() { tr -d '\r'; }
DRIVE_C="$WINEPREFIX/drive_c"
USER_TEMP="$DRIVE_C/users/$(id -un)/Temp"

# Statistics and the preference overrides off: nothing waits for a network.
SWITCHES=(--silent --enable-installer-stats=0 --launchbrowser=0 --setdefaultbrowser=1
          --with-feature:installer-pref-default-overrides-support=off)
UNINSTALL_KEYS=('HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall'
                'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall'
                'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall')

# "<path>\t<size>" of every file of drive_c, sorted.
list_files() {
  (cd "$DRIVE_C" && find . -type f -printf '%P\t%s\n' | LC_ALL=C sort)
}

# `reg export` of a root as sorted lines "[key]" and "[key] name=data", the
# continuation lines joined.
export_root() {
  local root=$1 out=$2 win_file
  win_file="C:\\velmo_soak_$root.reg"
  rm -f "$DRIVE_C/velmo_soak_$root.reg"
  wine_run reg export "$root" "$win_file" /y >/dev/null 2>&1 || true
  iconv -f UTF-16LE -t UTF-8 "$DRIVE_C/velmo_soak_$root.reg" 2>/dev/null | unix_text |
    sed -e ':a' -e '/\\$/N; s/\\\n *//; ta' |
    awk '/^\[/ { key = $0; print key; next } /^$/ { next } { print key " " $0 }' |
    grep -v '^Windows Registry Editor' | LC_ALL=C sort > "$out"
  rm -f "$DRIVE_C/velmo_soak_$root.reg"
}

snapshot() {
  local tag=$1
  list_files > "$OUT/files.$tag"
  export_root HKCU "$OUT/hkcu.$tag"
  export_root HKLM "$OUT/hklm.$tag"
}

# The uninstall entry of the product, or nothing.
find_entry() {
  local key entry
  for key in "${UNINSTALL_KEYS[@]}"; do
    entry=$(wine_run reg query "$key" 2>/dev/null | unix_text | grep -i 'Uninstall\\Velmo ' | head -n1 || true)
    if [[ -n "$entry" ]]; then
      echo "$entry"
      return
    fi
  done
}

# Runs a Windows program, records "<what> <seconds> <exit code>" and fails
# the soak when the exit code is not 0.
FAILED=0
timed_run() {
  local what=$1
  shift
  local t0 t1 rc=0
  t0=$(date +%s.%N)
  wine_run "$@" >/dev/null 2>&1 || rc=$?
  t1=$(date +%s.%N)
  printf '%s %.2f %d\n' "$what" "$(echo "$t1 - $t0" | bc)" "$rc" >> "$OUT/runs"
  if [[ $rc != 0 ]]; then
    velmo_log "error: $what exited with $rc"
    FAILED=1
  fi
}

velmo_log "snapshot before the first cycle"
# The prefix's own first-run work (the task scheduler service, fonts) is not
# the product's: one installation and uninstallation before the snapshot
# would hide the product's first-run leftovers too, so none is made.
snapshot before
: > "$OUT/runs"
: > "$OUT/folders"
LEFT_FOLDERS=0
for i in $(seq "$CYCLES"); do
  if (( i % 2 )); then mode=0; else mode=1; fi
  timed_run "install$([[ $mode == 1 ]] && echo _all || echo _user)" "$FULL" "${SWITCHES[@]}" --allusers=$mode
  if (( i % 4 == 0 )); then
    timed_run "upgrade$([[ $mode == 1 ]] && echo _all || echo _user)" "$NEXT" "${SWITCHES[@]}" --allusers=$mode
  fi
  entry=$(find_entry)
  if [[ -z "$entry" ]]; then
    velmo_log "error: cycle $i: no Add/Remove Programs entry"
    FAILED=1
    continue
  fi
  folder_win=$(wine_run reg query "$entry" /v InstallLocation | unix_text |
               sed -n 's/.*InstallLocation *REG_SZ *//p')
  folder=$(wine_run winepath -u "$folder_win" 2>/dev/null | unix_text)
  subfolder=$(sed -n 's:.*<subfolder>\(.*\)</subfolder>.*:\1:p' "$folder/installation_status.xml" | head -n1)
  echo "cycle $i mode $mode entry ${entry##*\\} folder $folder_win" >> "$OUT/folders"
  timed_run "uninstall$([[ $mode == 1 ]] && echo _all || echo _user)" \
    "$folder_win\\$subfolder\\installer.exe" --uninstall --silent --enable-installer-stats=0
  # The clean-up batch file removes the rest once the installer has ended.
  for _ in $(seq 600); do
    [[ -e "$folder" ]] || break
    sleep 0.2
  done
  if [[ -e "$folder" ]]; then
    LEFT_FOLDERS=$((LEFT_FOLDERS + 1))
    velmo_log "cycle $i: $folder_win is still there:"
    (cd "$folder" && find . | sed 's/^/    /') >&2
  fi
  velmo_log "cycle $i of $CYCLES done ($([[ $mode == 1 ]] && echo all users || echo per user)$( (( i % 4 == 0 )) && echo ', upgraded'))"
done
# Anything still running (a batch file) ends before the snapshot.
velmo_wine_server_stop
velmo_wine_server_start
snapshot after

# What names the product, its folders, or a key or value the browser's
# registration touches.
PRODUCT='velmo|launcher\.exe|installer\.exe|UrlAssociations|FileExts\\\.(htm|html|shtml|xht|xhtml)\\|StartMenuInternet|RegisteredApplications|App Paths|Compatibility Assistant|Classes\\(\.htm|\.html|\.shtml|\.xht|\.xhtml|\.pdf|\.vex|\.tavdownload|\.crx|\.nex|http|https|ftp|mailto)[]\\]|PendingFileRenameOperations|debug\.log'
# The previous default browser is kept with the ProgId of the user's choice
# beside it; the company key holds them. The engine the single-file installer
# writes into the temporary folder stays there for the next run (one folder
# per engine build).
KEPT='"Last Stable Install Path"|"Previous Default Browser( ProgId)?"|\\Software\\Velmo Software\]$|Temp/velmo_installer_engine_[0-9a-f]+/installer_engine\.dll'
: > "$OUT/product_differences"
: > "$OUT/other_differences"
for what in files hkcu hklm; do
  diff "$OUT/$what.before" "$OUT/$what.after" | grep '^[<>]' | sed "s/^/$what /" > "$OUT/$what.diff" || true
  grep -Ei "$PRODUCT" "$OUT/$what.diff" >> "$OUT/product_differences" || true
  grep -Eiv "$PRODUCT" "$OUT/$what.diff" >> "$OUT/other_differences" || true
done
# Logs are kept on purpose, up to their bound; they are figures below.
grep -Ev "$KEPT" "$OUT/product_differences" |
  grep -Ev '^files [<>] users/[^/]+/Temp/Velmo Installer/velmo_installer_[0-9_]+\.log|^files [<>] users/[^/]+/Temp/velmo_crashreporter(\.old)?\.log' \
  > "$OUT/unexpected_differences" || true

median() { sort -n | awk '{ a[NR] = $1 } END { if (NR) print (NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2); else print "-" }'; }
echo
velmo_log "figures after $CYCLES cycles:"
for kind in install_user install_all upgrade_user upgrade_all uninstall_user uninstall_all; do
  n=$(grep -c "^$kind " "$OUT/runs" || true)
  [[ $n == 0 ]] && continue
  first=$(grep "^$kind " "$OUT/runs" | head -n3 | awk '{ print $2 }' | median)
  last=$(grep "^$kind " "$OUT/runs" | tail -n3 | awk '{ print $2 }' | median)
  all=$(grep "^$kind " "$OUT/runs" | awk '{ print $2 }' | median)
  fails=$(grep "^$kind " "$OUT/runs" | awk '$3 != 0' | wc -l)
  echo "  $kind: $n runs, $fails failed, median $all s (first three $first s, last three $last s)"
done
echo "  install folders left after the uninstallation: $LEFT_FOLDERS"
echo "  all-users installations outside Program Files: $(grep ' mode 1 ' "$OUT/folders" | grep -vc 'Program Files' || true)"
echo "  version folders under Velmo folders: $(grep -Ec '^(Program Files|users/[^/]+/AppData/Local)/Velmo/[0-9]+\.[0-9.]+(_[0-9]+)?/' "$OUT/files.after" | tr -d ' ' || true) files"
echo "  \".old\" files in the prefix (new): $(grep -Ec '^files > .*\.old[0-9]*	' "$OUT/files.diff" || true)"
pending_before=$(grep -c 'PendingFileRenameOperations' "$OUT/hklm.before" || true)
pending_after=$(grep -c 'PendingFileRenameOperations' "$OUT/hklm.after" || true)
echo "  PendingFileRenameOperations values: $pending_before before, $pending_after after"
grep 'PendingFileRenameOperations' "$OUT/hklm.after" | cut -c1-300 | sed 's/^/    /' || true
echo "  installer logs in %TEMP%\\Velmo Installer: $(ls "$USER_TEMP/Velmo Installer" 2>/dev/null | grep -c '^velmo_installer_.*\.log$' || true)"
for log in "$USER_TEMP"/velmo_crashreporter*.log; do
  [[ -e "$log" ]] && echo "  $(basename "$log"): $(stat -c %s "$log") bytes"
done
echo "  debug.log files below %TEMP%: $(find "$USER_TEMP" -name debug.log | wc -l)"
echo
velmo_log "product differences kept on purpose:"
grep -E "$KEPT" "$OUT/product_differences" | cut -c1-300 | sed 's/^/  /' || true
velmo_log "other product differences ($(wc -l < "$OUT/unexpected_differences")):"
cut -c1-300 "$OUT/unexpected_differences" | sed 's/^/  /'
velmo_log "differences that are not the product's: $(wc -l < "$OUT/other_differences") (in $OUT/other_differences)"
if [[ $FAILED != 0 || $LEFT_FOLDERS != 0 || -s "$OUT/unexpected_differences" ]]; then
  velmo_log "soak: FAILED"
  exit 1
fi
velmo_log "soak: passed"
