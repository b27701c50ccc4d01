#!/usr/bin/env bash
# Soak run: many silent installations and uninstallations in one Wine prefix,
# as a fleet of machines runs them, then what is left compared with the
# state before the first cycle.
#
#   bash tools/soak.sh [cycles]        (default 40)
#
# Cycle i installs silently with velmo_installer_full.exe, per user when i is
# odd and for all users when i is even, with the default-browser
# registration. The cycles go in pairs (one per mode) through four kinds: a
# plain installation; one upgraded with velmo_installer_full_next.exe (one
# major version later); one installed over again with the same installer (a
# re-installation); one upgraded and then installed over again with the newer
# installer. After these runs the Add/Remove Programs entry must be the only
# one, under the mode's own root (HKCU for a per-user installation). The
# first cycle then starts the installed browser and runs one uninstallation
# while it runs: that one must fail and leave the installation whole. Each
# cycle uninstalls silently with the installer of the version folder and
# waits for the clean-up batch file to remove the install folder; the third
# (per user) does it as a standard user, under a token of the user with the
# Administrators group made deny-only (browser_runner.exe --as-standard-user,
# which prints the token's elevation and membership into <build>/soak/
# standard_user and refuses a token that is still an administrator's); its
# installer log must say that the installer found no administrator.
# Every other run must exit with 0. After the cycles, VELMO_SOAK_PAIR_CYCLES
# (default 2) more install one installation per user and one for all users
# side by side and remove them, the first pair per user first, the next all
# users first, and so on (two_installations_cycle below).
#
# After each per-user cycle one more per-user installation is upgraded, and
# the upgrade is ended at a random moment, every process of it at once: every
# other one once the package's installer has begun its transaction (its
# journal beside the first back end's), the others anywhere in the run. The
# uninstallation with the installer that the uninstall entry then names (its
# version folder's; the record's when a run ended between the old entry and
# the new one) must exit with 0, and the clean-up batch files must remove
# the install folder (killed_upgrade_cycle).
#
# Before the first cycle and after the last it lists the files and folders
# of the prefix's drive_c (path and size) and exports HKCU and HKLM, each in
# both registry views, with `reg export`. It then prints every difference,
# the product's first (anything naming the product, its install folders, or
# the keys and values the browser's registration touches), and the figures:
# run times, version folders, ".old" files, PendingFileRenameOperations
# entries, installer logs, the crash reporter's log and any "debug.log" in
# the temporary folder. Residue, besides those differences: every new empty
# folder of the product, and every new registry key that is one of the keys
# the installations recorded in their install logs, or a key above one of
# them. (Other new empty folders are listed: the emulator's fresh prefix
# lacks shell folders that Windows always has, such as Quick Launch.)
# Exits non-zero when a run failed, an entry was missing or under the wrong
# root, or a product difference other than the values kept on purpose ("Last
# Stable Install Path", "Previous Default Browser", the installer logs and
# the engine the single-file installer unpacks) or any residue is left.
#
# It builds like tools/main.sh unless VELMO_SOAK_NO_BUILD=1 (then the build
# tree must hold the installers). Results go to <build>/soak/.
# Not part of the test suite: 40 cycles take several minutes.
set -euo pipefail
VELMO_TOOL=soak
# shellcheck source=harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
velmo_wine_prefix_hold "tools/soak.sh"
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

# "<path>\t<size>" of every file of drive_c and "<path>/\tfolder" of every
# folder, sorted.
list_files() {
  (cd "$DRIVE_C" && find . -mindepth 1 \( -type f -printf '%P\t%s\n' \) -o \
                                       \( -type d -printf '%P/\tfolder\n' \) | LC_ALL=C sort)
}

# `reg export` of a root in both views as sorted lines "[key]" and "[key]
# name=data", the continuation lines joined (a key of both views once).
export_root() {
  local root=$1 out=$2 view win_file
  win_file="C:\\velmo_soak_$root.reg"
  for view in 64 32; do
    rm -f "$DRIVE_C/velmo_soak_$root.reg"
    wine_run reg export "$root" "$win_file" /y "/reg:$view" >/dev/null 2>&1 || true
    iconv -f UTF-16LE -t UTF-8 "$DRIVE_C/velmo_soak_$root.reg" 2>/dev/null | unix_text |
      sed -e ':a' -e '/\\$/N; s/\\\n *//; ta' |
      awk '/^\[/ { key = $0; print key; next } /^$/ { next } { print key " " $0 }' |
      grep -v '^Windows Registry Editor' || true
  done | LC_ALL=C sort -u > "$out"
  rm -f "$DRIVE_C/velmo_soak_$root.reg"
}

snapshot() {
  local tag=$1
  list_files > "$OUT/files.$tag"
  export_root HKCU "$OUT/hkcu.$tag"
  export_root HKLM "$OUT/hklm.$tag"
}

# "<root>\t<key path>" of every key record of the install logs of the
# installation in $1 (the current one and the preserved ones).
recorded_keys() {
  python3 - "$1" <<'PY'
import glob, os, sys, xml.etree.ElementTree as ET
folder = sys.argv[1]
roots = {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE"}
for log in [os.path.join(folder, "installation_status.xml")] + \
        glob.glob(os.path.join(folder, "old_status", "*.xml.*")):
    try:
        tree = ET.parse(log)
    except (OSError, ET.ParseError):
        continue
    for registry in tree.getroot().iter("registry"):
        for key in registry.iter("key"):
            print("%s\t%s" % (roots.get(registry.get("root"), "?"), key.get("path")))
PY
}

# The uninstall entries of the product, one a line.
find_entries() {
  local key
  for key in "${UNINSTALL_KEYS[@]}"; do
    wine_run reg query "$key" 2>/dev/null | unix_text | grep -i 'Uninstall\\Velmo ' || true
  done
}

# Runs a Windows program, records "<what> <seconds> <exit code>" and fails
# the soak when the exit code is not 0 (with EXPECT_FAILURE=1: when it is).
# Its output goes to RUN_OUTPUT when set.
FAILED=0
timed_run() {
  local what=$1
  shift
  local t0 t1 rc=0
  t0=$(date +%s.%N)
  wine_run "$@" >"${RUN_OUTPUT:-/dev/null}" 2>&1 || rc=$?
  t1=$(date +%s.%N)
  printf '%s %.2f %d\n' "$what" "$(echo "$t1 - $t0" | bc)" "$rc" >> "$OUT/runs"
  if [[ "${EXPECT_FAILURE:-0}" == 1 && $rc == 0 ]]; then
    velmo_log "error: $what exited with 0"
    FAILED=1
  elif [[ "${EXPECT_FAILURE:-0}" != 1 && $rc != 0 ]]; then
    velmo_log "error: $what exited with $rc"
    FAILED=1
  fi
}

# One uninstallation while the installed browser runs: it must fail and
# leave the installation whole (its install log, the browser, the launcher
# and the uninstaller), so that it can be uninstalled once the browser has
# ended. The browser runs until browser_runner.exe is told to end it.
uninstall_while_the_browser_runs() {
  local folder=$1 subfolder=$2 browser_win=$3 uninstaller=$4 runner rc=0 path
  local stop="$DRIVE_C/velmo_soak_stop_browser"
  rm -f "$stop" "$stop.running"
  wine_run "$BIN/browser_runner.exe" 'C:\velmo_soak_stop_browser' "$browser_win" \
    >/dev/null 2>&1 &
  runner=$!
  for _ in $(seq 600); do
    [[ -e "$stop.running" ]] && break
    kill -0 "$runner" 2>/dev/null || break
    sleep 0.1
  done
  if [[ ! -e "$stop.running" ]]; then
    velmo_log "error: the browser did not start"
    FAILED=1
  fi
  EXPECT_FAILURE=1 timed_run uninstall_while_running "$uninstaller" --uninstall --silent \
    --enable-installer-stats=0
  for path in installation_status.xml launcher.exe "$subfolder/velmo.exe" "$subfolder/installer.exe"; do
    if [[ ! -e "$folder/$path" ]]; then
      velmo_log "error: the uninstallation while the browser ran took $path"
      FAILED=1
    fi
  done
  touch "$stop"
  wait "$runner" || rc=$?
  rm -f "$stop" "$stop.running"
  if [[ $rc != 0 ]]; then
    velmo_log "error: the browser ended with $rc"
    FAILED=1
  fi
}

# Waits up to 2 min for the install folder $1 (Linux path) to go: the
# clean-up batch file removes the rest once the installer has ended. When it
# stays, counts it and lists what is in it under the message $2.
expect_folder_removed() {
  local folder=$1 message=$2
  for _ in $(seq 600); do
    [[ -e "$folder" ]] || return 0
    sleep 0.2
  done
  LEFT_FOLDERS=$((LEFT_FOLDERS + 1))
  velmo_log "$message"
  (cd "$folder" && find . | sed 's/^/    /') >&2
}

# The Linux processes of the prefix's Windows processes whose command line
# names an installer: every process of an installer run (front end, back
# ends, crash reporter), none of the scripts that started them.
installer_processes() {
  local pid
  for pid in $(pgrep -f -i 'velmo_installer|installer\.exe' || true); do
    [[ "$(readlink "/proc/$pid/exe" 2>/dev/null)" == */wine* ]] || continue
    tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    echo "$pid"
  done
}

# The transaction journals in the folder $1 (none when it is missing).
journal_count() { find "$1" -name '*.journal' 2>/dev/null | wc -l || true; }

# One per-user upgrade ended at a random moment, every process at once, then
# uninstalled with the installer the uninstall entry names (see the header).
KILLED_UPGRADES=0
killed_upgrade_cycle() {
  local i=$1 journals pending=0 run pids span moment entry version folder_win folder subfolder
  local uninstaller
  journals="$DRIVE_C/users/$(id -un)/AppData/Local/Velmo Installer/Journals"
  timed_run install_before_kill "$FULL" "${SWITCHES[@]}" --allusers=0
  # An upgrade takes about as long as the installation just made (ms).
  span=$(tail -n1 "$OUT/runs" | awk '{ printf "%d", $2 * 1300 }')
  wine_run "$NEXT" "${SWITCHES[@]}" --allusers=0 >/dev/null 2>&1 &
  run=$!
  if (( KILLED_UPGRADES % 2 == 0 )); then
    for _ in $(seq 6000); do
      kill -0 "$run" 2>/dev/null || break
      (( $(journal_count "$journals") >= 2 )) && break
      sleep 0.01
    done
    span=$((span / 10))
  fi
  moment=$((RANDOM * 32768 + RANDOM))
  moment=$((moment % (span + 1)))
  sleep "$((moment / 1000)).$(printf '%03d' $((moment % 1000)))"
  # Twice: a process may have started one more while the first ones ended.
  for _ in 1 2; do
    pids=$(installer_processes)
    # shellcheck disable=SC2086
    [[ -z "$pids" ]] || kill -9 $pids 2>/dev/null || true
    sleep 0.2
  done
  wait "$run" 2>/dev/null || true
  KILLED_UPGRADES=$((KILLED_UPGRADES + 1))
  pending=$(journal_count "$journals")
  entry=$(find_entries | grep '^HKEY_CURRENT_USER' | head -n1 || true)
  if [[ -n "$entry" ]]; then
    folder_win=$(wine_run reg query "$entry" /v InstallLocation | unix_text |
                 sed -n 's/.*InstallLocation *REG_SZ *//p')
  else
    # The run ended between removing the old entry and writing the new one.
    folder_win=$(wine_run reg query 'HKCU\Software\Velmo Software' /v 'Last Stable Install Path' |
                 unix_text | sed -n 's/.*Install Path *REG_SZ *//p')
    folder_win=${folder_win%\\}
  fi
  folder=$(wine_run winepath -u "$folder_win" 2>/dev/null | unix_text)
  if [[ -n "$entry" ]]; then
    version=$(wine_run reg query "$entry" /v DisplayVersion | unix_text |
              sed -n 's/.*DisplayVersion *REG_SZ *//p')
    uninstaller="$folder_win\\$version\\installer.exe"
  else
    subfolder=$(sed -n 's:.*<subfolder>\(.*\)</subfolder>.*:\1:p' "$folder/installation_status.xml" |
                head -n1)
    uninstaller="$folder_win\\$subfolder\\installer.exe"
  fi
  echo "killed upgrade after cycle $i at $moment ms: $pending journal(s) left, ${entry:-no entry}," \
       "uninstalled with $uninstaller" >> "$OUT/killed_upgrades"
  recorded_keys "$folder" >> "$OUT/recorded_keys"
  timed_run uninstall_after_kill "$uninstaller" --uninstall --silent --enable-installer-stats=0
  expect_folder_removed "$folder" "killed upgrade after cycle $i: $folder_win is still there:"
}

# Two installations side by side: one per user (in its default folder), then
# one for all users in "C:\Program Files\Velmo", both made the default
# browser, removed one after the other, the per-user one first when $1 is
# "user", else the all-users one. Each is uninstalled with the installer of
# its version folder and its folder must go. Every run must exit with 0.
# Afterwards no value of HKCU or HKLM may name anything in either folder
# (the company key, which keeps the last install folder and the previous
# default browser on purpose, aside): a handler left naming the removed
# per-user launcher stops the user's links from opening, as the user's
# classes win over the machine's.
PAIR_CYCLES=${VELMO_SOAK_PAIR_CYCLES:-2}
two_installations_cycle() {
  local first=$1 label entry folder_win folder subfolder order left
  local -A folders=() subfolders=() unix_folders=()
  timed_run install_pair_user "$FULL" "${SWITCHES[@]}" --allusers=0
  timed_run install_pair_all "$FULL" "${SWITCHES[@]}" '--installfolder=C:\Program Files\Velmo' \
    --allusers=1
  while read -r entry; do
    [[ -n "$entry" ]] || continue
    case $entry in
      HKEY_CURRENT_USER\\*) label=user ;;
      *) label=all ;;
    esac
    folder_win=$(wine_run reg query "$entry" /v InstallLocation | unix_text |
                 sed -n 's/.*InstallLocation *REG_SZ *//p')
    folder=$(wine_run winepath -u "$folder_win" 2>/dev/null | unix_text)
    folders[$label]=$folder_win
    unix_folders[$label]=$folder
    subfolders[$label]=$(sed -n 's:.*<subfolder>\(.*\)</subfolder>.*:\1:p' \
                           "$folder/installation_status.xml" | head -n1)
    recorded_keys "$folder" >> "$OUT/recorded_keys"
  done <<<"$(find_entries)"
  if [[ -z "${folders[user]:-}" || -z "${folders[all]:-}" ]]; then
    velmo_log "error: two installations: the entries are not one per user and one for all users:"
    find_entries | sed 's/^/    /' >&2
    FAILED=1
    return
  fi
  echo "pair ($first first): user ${folders[user]}, all users ${folders[all]}" >> "$OUT/folders"
  if [[ $first == user ]]; then order=(user all); else order=(all user); fi
  for label in "${order[@]}"; do
    timed_run "uninstall_pair_$label" "${folders[$label]}\\${subfolders[$label]}\\installer.exe" \
      --uninstall --silent --enable-installer-stats=0
    expect_folder_removed "${unix_folders[$label]}" "two installations: ${folders[$label]} is still there:"
  done
  # What still names either folder, values of the company key aside. The
  # export doubles the backslashes of values: undone before the search.
  export_root HKCU "$OUT/pair_hkcu"
  export_root HKLM "$OUT/pair_hklm"
  left=$(cat "$OUT/pair_hkcu" "$OUT/pair_hklm" | sed 's/\\\\/\\/g' |
         grep -v '^\[HKEY_[A-Z_]*\\Software\\Velmo Software[]\\]' |
         grep -iF -e "${folders[user]}\\" -e "${folders[all]}\\" || true)
  if [[ -n "$left" ]]; then
    velmo_log "error: two installations removed ($first first), the registry still names them:"
    cut -c1-300 <<<"$left" | sed 's/^/    /' >&2
    FAILED=1
  fi
  rm -f "$OUT/pair_hkcu" "$OUT/pair_hklm"
  velmo_log "two installations removed, $([[ $first == user ]] && echo per user || echo all users) first"
}

velmo_log "snapshot before the first cycle"
# The prefix's own first-run work (the task scheduler service, fonts) is not
# the product's: one installation and uninstallation before the snapshot
# would hide the product's first-run leftovers too, so none is made.
snapshot before
: > "$OUT/runs"
: > "$OUT/folders"
: > "$OUT/killed_upgrades"
LEFT_FOLDERS=0
KINDS=(installed upgraded re-installed "upgraded and re-installed")
: > "$OUT/recorded_keys"
for i in $(seq "$CYCLES"); do
  if (( i % 2 )); then
    mode=0; root=HKEY_CURRENT_USER; label=user
  else
    mode=1; root=HKEY_LOCAL_MACHINE; label=all
  fi
  kind=$(( (i - 1) / 2 % 4 ))
  timed_run "install_$label" "$FULL" "${SWITCHES[@]}" --allusers=$mode
  case $kind in
    1) timed_run "upgrade_$label" "$NEXT" "${SWITCHES[@]}" --allusers=$mode ;;
    2) timed_run "reinstall_$label" "$FULL" "${SWITCHES[@]}" --allusers=$mode ;;
    3) timed_run "upgrade_$label" "$NEXT" "${SWITCHES[@]}" --allusers=$mode
       timed_run "reinstall_$label" "$NEXT" "${SWITCHES[@]}" --allusers=$mode ;;
  esac
  entries=$(find_entries)
  entry=$(head -n1 <<<"$entries")
  if [[ -z "$entry" ]]; then
    velmo_log "error: cycle $i: no Add/Remove Programs entry"
    FAILED=1
    continue
  fi
  if [[ $(wc -l <<<"$entries") != 1 || "$entry" != "$root\\"* ]]; then
    velmo_log "error: cycle $i ($label): the entries are not one under $root:"
    sed 's/^/    /' <<<"$entries" >&2
    FAILED=1
  fi
  folder_win=$(wine_run reg query "$entry" /v InstallLocation | unix_text |
               sed -n 's/.*InstallLocation *REG_SZ *//p')
  folder=$(wine_run winepath -u "$folder_win" 2>/dev/null | unix_text)
  subfolder=$(sed -n 's:.*<subfolder>\(.*\)</subfolder>.*:\1:p' "$folder/installation_status.xml" | head -n1)
  echo "cycle $i mode $mode entry ${entry##*\\} folder $folder_win" >> "$OUT/folders"
  recorded_keys "$folder" >> "$OUT/recorded_keys"
  uninstaller="$folder_win\\$subfolder\\installer.exe"
  if (( i == 1 )); then
    uninstall_while_the_browser_runs "$folder" "$subfolder" "$folder_win\\$subfolder\\velmo.exe" \
      "$uninstaller"
  fi
  if (( i == 3 )); then
    # Its log (--v=1) says what the installer itself found the user to be.
    touch "$OUT/standard_user.start"
    RUN_OUTPUT="$OUT/standard_user" timed_run uninstall_user_standard \
      "$BIN/browser_runner.exe" --as-standard-user "$uninstaller" --uninstall --silent --v=1 \
      --enable-installer-stats=0
    # Wine still reports the restricted token as elevated; the membership is
    # what the installer's administrator checks ask.
    admin_lines=$(find "$USER_TEMP/Velmo Installer" -name 'velmo_installer_*.log' \
                    -newer "$OUT/standard_user.start" -exec grep -ah 'is_elevated_admin: ' {} + |
                  unix_text || true)
    echo "$admin_lines" >> "$OUT/standard_user"
    if ! grep -q 'standard user token: .*Administrators member 0' "$OUT/standard_user" ||
       [[ -z "$admin_lines" ]] || grep -q 'is_elevated_admin: 1' <<<"$admin_lines"; then
      velmo_log "error: cycle $i: the uninstallation did not run as a standard user"
      FAILED=1
    fi
  else
    timed_run "uninstall_$label" "$uninstaller" --uninstall --silent --enable-installer-stats=0
  fi
  expect_folder_removed "$folder" "cycle $i: $folder_win is still there:"
  velmo_log "cycle $i of $CYCLES done ($([[ $mode == 1 ]] && echo all users || echo per user), ${KINDS[$kind]})"
  if (( mode == 0 )); then
    killed_upgrade_cycle "$i"
  fi
done
for p in $(seq "$PAIR_CYCLES"); do
  two_installations_cycle "$( (( p % 2 )) && echo user || echo all)"
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
# per engine build). The installer logs are kept in a folder of their own.
KEPT='"Last Stable Install Path"|"Previous Default Browser( ProgId)?"|\\Software\\Velmo Software\]$|Temp/velmo_installer_engine_[0-9a-f]+/(installer_engine\.dll)?	|Temp/Velmo Installer/	folder$'
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

# Residue: folders that are new and empty, and keys that are new and that an
# installation recorded, or that lie above such a key.
(cd "$DRIVE_C" && find . -mindepth 1 -type d -empty -printf '%P/\n' | LC_ALL=C sort) \
  > "$OUT/empty_folders.after"
sed -n 's:/\tfolder$:/:p' "$OUT/files.before" | LC_ALL=C sort > "$OUT/folders.before"
LC_ALL=C comm -23 "$OUT/empty_folders.after" "$OUT/folders.before" > "$OUT/empty_folders_new"
grep -Ei "$PRODUCT" "$OUT/empty_folders_new" > "$OUT/empty_folders_left" || true
# The lines of the keys themselves: "[key]", no value after it.
key_lines() { grep -E '^\[.*\]$' "$1" | grep -v '\] ' | LC_ALL=C sort -u; }
for what in hkcu hklm; do
  LC_ALL=C comm -13 <(key_lines "$OUT/$what.before") <(key_lines "$OUT/$what.after")
done > "$OUT/new_keys"
python3 - "$OUT/recorded_keys" "$OUT/new_keys" > "$OUT/keys_left" <<'PY'
import sys
recorded = set()
with open(sys.argv[1], encoding="utf-8") as lines:
    for line in lines:
        root, _, path = line.rstrip("\n").partition("\t")
        recorded.add((root, path.lower()))
with open(sys.argv[2], encoding="utf-8") as lines:
    for line in lines:
        root, _, path = line.strip()[1:-1].partition("\\")
        # The machine's 32-bit view lies below Software\Wow6432Node.
        parts = [part for at, part in enumerate(path.split("\\"))
                 if not (at == 1 and part.lower() == "wow6432node")]
        key = "\\".join(parts).lower()
        if any(r == root and (p == key or p.startswith(key + "\\")) for r, p in recorded):
            print(line.rstrip("\n"))
PY

median() { sort -n | awk '{ a[NR] = $1 } END { if (NR) print (NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2); else print "-" }'; }
echo
velmo_log "figures after $CYCLES cycles:"
for kind in install_user install_all upgrade_user upgrade_all reinstall_user reinstall_all \
            uninstall_while_running uninstall_user uninstall_user_standard uninstall_all \
            install_before_kill uninstall_after_kill \
            install_pair_user install_pair_all uninstall_pair_user uninstall_pair_all; do
  n=$(grep -c "^$kind " "$OUT/runs" || true)
  [[ $n == 0 ]] && continue
  first=$(grep "^$kind " "$OUT/runs" | head -n3 | awk '{ print $2 }' | median)
  last=$(grep "^$kind " "$OUT/runs" | tail -n3 | awk '{ print $2 }' | median)
  all=$(grep "^$kind " "$OUT/runs" | awk '{ print $2 }' | median)
  fails=$(grep "^$kind " "$OUT/runs" | awk '$3 != 0' | wc -l)
  echo "  $kind: $n runs, $fails exited non-zero, median $all s (first three $first s, last three $last s)"
done
[[ -s "$OUT/standard_user" ]] &&
  echo "  as a standard user: $(grep -ah 'standard user token' "$OUT/standard_user" | unix_text);" \
    "the installer logged $(grep -ah 'is_elevated_admin: ' "$OUT/standard_user" | sed 's/.*\] //' | sort | uniq -c | xargs)"
echo "  install folders left after the uninstallation: $LEFT_FOLDERS"
echo "  upgrades ended whole: $KILLED_UPGRADES, of which $(grep -vc ': 0 journal' "$OUT/killed_upgrades" 2>/dev/null || true) left journals and $(grep -c 'no entry' "$OUT/killed_upgrades" 2>/dev/null || true) no entry (in $OUT/killed_upgrades)"
echo "  all-users installations outside Program Files: $(grep ' mode 1 ' "$OUT/folders" | grep -vc 'Program Files' || true)"
echo "  version folders under Velmo folders: $(grep -v '	folder$' "$OUT/files.after" | grep -Ec '^(Program Files|users/[^/]+/AppData/Local)/Velmo/[0-9]+\.[0-9.]+(_[0-9]+)?/' || true) files"
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
velmo_log "new empty folders of the product ($(wc -l < "$OUT/empty_folders_left")):"
sed 's/^/  /' "$OUT/empty_folders_left"
velmo_log "other new empty folders: $(grep -Eiv "$PRODUCT" "$OUT/empty_folders_new" | tr '\n' ' ')"
velmo_log "new registry keys of the installations' records or above them ($(wc -l < "$OUT/keys_left")):"
cut -c1-300 "$OUT/keys_left" | sed 's/^/  /'
velmo_log "differences that are not the product's: $(wc -l < "$OUT/other_differences") (in $OUT/other_differences)"
if [[ $FAILED != 0 || $LEFT_FOLDERS != 0 || -s "$OUT/unexpected_differences" ||
      -s "$OUT/empty_folders_left" || -s "$OUT/keys_left" ]]; then
  velmo_log "soak: FAILED"
  exit 1
fi
velmo_log "soak: passed"
