#!/usr/bin/env bash
# The main job: builds everything, then installs the demo browser silently
# with the offline installer under Wine, shows what a user would check, and
# uninstalls it silently again through its Add/Remove Programs entry.
#   bash tools/main.sh            (as root on a fresh Debian 12 machine too)
# Exits non-zero when the build fails, when an installer run does not end
# with exit code 0 or leaves no Add/Remove Programs entry, or when something
# stays behind after the uninstallation (the entry, a shortcut, the scheduled
# task, the install folder, or a clean-up batch file that does not end).
set -euo pipefail
VELMO_TOOL=main
# shellcheck source=harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
velmo_wine_prefix_hold "tools/main.sh"
trap velmo_cleanup EXIT

velmo_prepare

BIN="$VELMO_BUILD/bin"
INSTALLER="$BIN/velmo_installer_full.exe"
[[ -f "$INSTALLER" ]] || { velmo_log "error: $INSTALLER was not built"; exit 1; }
wine_run() { "$VELMO_ROOT/tools/wine_exec.sh" "$@"; }
# Windows text to Linux text: no carriage returns.
unix_text() { tr -d '\r'; }

velmo_log "$(basename "$INSTALLER") --version: $(wine_run "$INSTALLER" --version)"

# Statistics are switched off, and so are the preference overrides, which
# come from the product's server: nothing of the run waits for a network
# this machine may not have.
# The demo browser is not started at the end: it would only write a note
# of how it was started into the install folder.
SWITCHES=(--silent --enable-installer-stats=0 --launchbrowser=0
          --with-feature:installer-pref-default-overrides-support=off)
# A per-user installation registers with the user, one for all users (the
# default for an administrator, which Wine's user is) with the machine.
UNINSTALL_KEYS=('HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall'
                'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall')
LOG_FOLDER="$WINEPREFIX/drive_c/users/$(id -un)/Temp/Velmo Installer"

# The log of the run started after marker file $1 with program $2: the one
# whose first command line names that program and is not a back end's (the
# back end adds its lines to the front end's log).
run_log() {
  local log
  while IFS= read -r log; do
    if grep -a -m1 'Command line: ' "$log" | grep -aF -- "$2" | grep -aqv -- '--backend'; then
      echo "$log"
      return 0
    fi
  done < <(find "$LOG_FOLDER" -name 'velmo_installer_*.log' -newer "$1" 2>/dev/null | sort)
  return 1
}

show_run_log() {
  local log text
  if ! log=$(run_log "$1" "$2"); then
    velmo_log "error: found no installer log of the run of $2 in $LOG_FOLDER; logs written since:"
    find "$LOG_FOLDER" -name 'velmo_installer_*.log' -newer "$1" -printf '  %p (%s bytes)\n' 2>/dev/null
    return 1
  fi
  # Windows line ends, and no NUL bytes from a file that was cut short
  # while another process wrote to it.
  text=$(tr -d '\r\000' < "$log" | tail -n 15 | cut -c1-200)
  if [[ -z "$text" ]]; then
    velmo_log "error: the installer log $log is empty ($(stat -c %s "$log") bytes)"
    return 1
  fi
  velmo_log "tail of the installer log $log:"
  printf '%s\n' "$text"
}

marker=$(mktemp /tmp/velmo-main.XXXXXX)
velmo_log "running $(basename "$INSTALLER") ${SWITCHES[*]}"
rc=0
wine_run "$INSTALLER" "${SWITCHES[@]}" || rc=$?
velmo_log "exit code of the installation: $rc"
show_run_log "$marker" "$(basename "$INSTALLER")" || true
[[ $rc == 0 ]] || exit "$rc"

entry=""
for key in "${UNINSTALL_KEYS[@]}"; do
  entry=$(wine_run reg query "$key" 2>/dev/null | unix_text | grep -i 'Uninstall\\Velmo ' | head -n1 || true)
  [[ -z "$entry" ]] || break
done
[[ -n "$entry" ]] || { velmo_log "error: no Add/Remove Programs entry"; exit 1; }
velmo_log "Add/Remove Programs entry:"
wine_run reg query "$entry" | unix_text
folder_win=$(wine_run reg query "$entry" /v InstallLocation | unix_text |
             sed -n 's/.*InstallLocation *REG_SZ *//p')
folder=$(wine_run winepath -u "$folder_win" 2>/dev/null | unix_text)
velmo_log "install folder $folder_win:"
(cd "$folder" && find . -type f | sort)

velmo_log "shortcuts recorded by the installation:"
status_file="$folder/installation_status.xml"
mapfile -t shortcuts < <(grep -o '[A-Za-z]:\\[^<]*\.lnk' "$status_file" | sort -u)
for shortcut in "${shortcuts[@]}"; do
  path=$(wine_run winepath -u "$shortcut" 2>/dev/null | unix_text)
  if [[ -e "$path" ]]; then echo "  present: $shortcut"; else echo "  MISSING: $shortcut"; fi
done

tasks="$WINEPREFIX/drive_c/windows/system32/tasks"
velmo_log "scheduled tasks (where Wine keeps them, $tasks):"
ls -1 "$tasks" 2>/dev/null | grep '^Velmo' | sed 's/^/  /' || echo "  none"

# The uninstallation as Add/Remove Programs starts it: the entry's
# UninstallString ("<install folder>\Launcher.exe" /uninstall), which runs
# the installer of the version folder; here silently, and without
# statistics.
subfolder=$(sed -n 's:.*<subfolder>\(.*\)</subfolder>.*:\1:p' "$status_file" | head -n1)
uninstall_string=$(wine_run reg query "$entry" /v UninstallString | unix_text |
                   sed -n 's/.*UninstallString *REG_SZ *//p')
launcher=$(sed -n 's/^"\([^"]*\)".*/\1/p' <<<"$uninstall_string")
launcher_args=${uninstall_string#"\"$launcher\""}
if [[ -z "$launcher" || "$launcher_args" != " /uninstall" ]]; then
  velmo_log "error: the entry's UninstallString is not \"<launcher>\" /uninstall: $uninstall_string"
  exit 1
fi
marker2=$(mktemp /tmp/velmo-main.XXXXXX)
velmo_log "uninstalling: $uninstall_string --silent --enable-installer-stats=0"
rc=0
wine_run "$launcher" /uninstall --silent --enable-installer-stats=0 || rc=$?
velmo_log "exit code of the uninstallation: $rc"
show_run_log "$marker2" "$subfolder\\installer.exe" || true
rm -f "$marker" "$marker2"
[[ $rc == 0 ]] || exit "$rc"

# The clean-up batch file (k.bat) removes the rest, the files the uninstaller
# itself ran from included, and then the install folder, once the installer
# has ended (two minutes at most, on a loaded machine).
for _ in $(seq 600); do
  [[ -e "$folder" ]] || break
  sleep 0.2
done
if [[ -e "$folder/launcher.exe" || -e "$folder/k.bat" ]]; then
  velmo_log "error: the clean-up after the uninstallation did not end"
  exit 1
fi
velmo_log "after the uninstallation:"
if wine_run reg query "$entry" >/dev/null 2>&1; then
  echo "  Add/Remove Programs entry: STILL THERE"; exit 1
fi
echo "  Add/Remove Programs entry: gone"
for shortcut in "${shortcuts[@]}"; do
  path=$(wine_run winepath -u "$shortcut" 2>/dev/null | unix_text)
  if [[ -e "$path" ]]; then echo "  shortcut STILL THERE: $shortcut"; exit 1; fi
  echo "  shortcut gone: $shortcut"
done
if ls -1 "$tasks" 2>/dev/null | grep -q '^Velmo'; then echo "  scheduled task: STILL THERE"; exit 1; fi
echo "  scheduled task: gone"
if [[ -e "$folder" ]]; then
  echo "  install folder: STILL THERE, holding:"
  (cd "$folder" && find . | sort | sed 's/^/    /')
  exit 1
fi
echo "  install folder: gone"
