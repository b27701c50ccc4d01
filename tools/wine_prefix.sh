#!/usr/bin/env bash
# The Wine prefixes the project runs in, kept outside the clone.
#
#   tools/wine_prefix.sh create   make the prefix once (about 15 s), no-op after
#   tools/wine_prefix.sh fresh    make the prefix anew from a template copy
#   tools/wine_prefix.sh start    create it if needed, start a persistent wineserver
#   tools/wine_prefix.sh stop     stop that wineserver
#   tools/wine_prefix.sh env      print the environment the tests run with
# fresh, start and stop wait while a script's run holds the prefix (see
# velmo_wine_prefix_hold), and say so.
#
# Sourced (by tools/wine_exec.sh and the other scripts) it only defines the
# velmo_wine_* functions.
#
# VELMO_WINEPREFIX  prefix folder (default ~/.cache/velmo/clone-<hash of the
#                   clone's folder>, which tools/main.sh, tools/soak.sh, the
#                   benchmarks, the screenshot tool and runs by hand of this
#                   clone share; tools/test.sh uses a prefix of its own, see
#                   there)
# VELMO_DISPLAY     X display for Wine's windows (tools/test.sh starts an Xvfb)

# The clone this file belongs to.
VELMO_CLONE=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The prefix of kind |1| (clone, suite) that belongs to this clone alone:
# clones in other folders get other prefixes, so their runs do not meet.
velmo_clone_prefix() {
  printf '%s/.cache/velmo/%s-%s' "${HOME:-/root}" "$1" \
    "$(printf '%s' "$VELMO_CLONE" | sha256sum | cut -c1-12)"
}

# Environment for every Wine process of the suite.
velmo_wine_env() {
  if [[ -n "${VELMO_WINEPREFIX:-}" ]]; then
    export WINEPREFIX=$VELMO_WINEPREFIX
  else
    WINEPREFIX=$(velmo_clone_prefix clone)
    export WINEPREFIX
  fi
  export WINEDEBUG=-all
  # No Mono/Gecko install prompts, no menu entries on the host.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # Wine's WinInet/WinHTTP honour these, and tests only talk to local servers.
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY \
    ftp_proxy FTP_PROXY all_proxy ALL_PROXY
  if [[ -n "${VELMO_DISPLAY:-}" ]]; then
    export DISPLAY=$VELMO_DISPLAY
  fi
  # Debian installs the 64-bit loader outside PATH; /usr/bin/wine would look
  # for the 32-bit one first.
  if [[ -x /usr/lib/wine/wine64 ]]; then
    VELMO_WINE=/usr/lib/wine/wine64
    export WINELOADER=$VELMO_WINE
  else
    VELMO_WINE=$(command -v wine64 || command -v wine || true)
  fi
  if [[ -x /usr/lib/wine/wineserver64 ]]; then
    export WINESERVER=/usr/lib/wine/wineserver64
  else
    WINESERVER=$(command -v wineserver || true)
    export WINESERVER
  fi
  if [[ -z "$VELMO_WINE" || -z "$WINESERVER" ]]; then
    echo "wine_prefix: Wine is not installed; run tools/setup.sh as root" >&2
    return 1
  fi
}

# Fonts the installer's interface languages need beyond the prefix's own:
# Wine's dialog fonts lack the letters of Vietnamese, Kazakh and Azerbaijani
# and every CJK, Thai and Indic glyph. tools/setup.sh installs them from
# Debian packages (fonts-dejavu-core, fonts-noto-ui-core, fonts-noto-cjk);
# each entry is "file,face" as a SystemLink value wants it. The dialog font
# draws what it has and takes each missing glyph from the first entry that
# has it, as Windows does with its own fonts.
VELMO_FONT_LINKS=(
  "DejaVuSans.ttf,DejaVu Sans"
  "NotoSansThaiUI-Regular.ttf,Noto Sans Thai UI"
  "NotoSansDevanagariUI-Regular.ttf,Noto Sans Devanagari UI"
  "NotoSansBengaliUI-Regular.ttf,Noto Sans Bengali UI"
  "NotoSansGurmukhiUI-Regular.ttf,Noto Sans Gurmukhi UI"
  "NotoSansTamilUI-Regular.ttf,Noto Sans Tamil UI"
  "NotoSansTeluguUI-Regular.ttf,Noto Sans Telugu UI"
  "NotoSansCJK-Regular.ttc,Noto Sans CJK JP"
)
# The faces a dialog font ends up as (GDI looks the links up under the name
# GetTextFace gives): "MS Shell Dlg" and "MS Shell Dlg 2" are substitutes
# for Tahoma; a face Wine does not have, Tahoma itself when Wine's copy is
# not installed or "Segoe UI" (the headline), becomes Liberation Sans or
# DejaVu Sans depending on the pitch asked for.
VELMO_LINKED_FACES=("Tahoma" "MS Sans Serif" "Microsoft Sans Serif" "Liberation Sans" "DejaVu Sans"
  "Segoe UI")
# Bumped when the links change, so that prefixes made before get them.
VELMO_FONT_STAMP=.velmo-font-links-2

# A REG_MULTI_SZ holding the (ASCII) arguments as a REGEDIT4 hex(7) list:
# the strings' bytes, each ended by a NUL, and a NUL that ends the list.
velmo_multi_sz_hex() {
  local entry
  {
    for entry in "$@"; do printf '%s\0' "$entry"; done
    printf '\0'
  } | od -An -v -tx1 | tr -s ' \n' ',' | sed 's/^,//; s/,$//'
}

# Links the script fonts to every dialog face (Windows' FontLink\SystemLink,
# which Wine honours). Prints nothing and returns 2 when the fonts are not
# installed, so that the stamp stays unwritten and a later run links them.
velmo_wine_prefix_link_fonts() {
  local entry file missing=()
  for entry in "${VELMO_FONT_LINKS[@]}"; do
    file=${entry%%,*}
    [[ -n "$(find /usr/share/fonts -name "$file" -print -quit 2>/dev/null)" ]] ||
      missing+=("$file")
  done
  if ((${#missing[@]})); then
    echo "wine_prefix: fonts missing (${missing[*]}): run tools/setup.sh as root;" \
      "texts in some languages will show boxes" >&2
    return 2
  fi
  local reg="$WINEPREFIX/velmo-font-links.reg" hex face
  hex=$(velmo_multi_sz_hex "${VELMO_FONT_LINKS[@]}")
  {
    printf 'REGEDIT4\r\n\r\n'
    printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n'
    for face in "${VELMO_LINKED_FACES[@]}"; do
      printf '"%s"=hex(7):%s\r\n' "$face" "$hex"
    done
  } >"$reg"
  # (The 32-bit view's key is a link to this one.)
  "$VELMO_WINE" regedit /S "$(velmo_windows_path "$reg")" </dev/null >/dev/null 2>&1
  local status=$?
  rm -f "$reg"
  if ((status)); then
    echo "wine_prefix: linking the script fonts failed" >&2
    return 1
  fi
}

# The font links for a prefix made before them, with or without a running
# wineserver of the prefix: the stamp is written once the server has saved
# the registry (when it exits, a persistent one every 30 s or so), so an
# interrupted run is repeated.
velmo_wine_prefix_update_fonts() {
  local status=0
  velmo_wine_prefix_link_fonts || status=$?
  ((status == 2)) && return 0
  ((status)) && return 1
  # The value as the server saves it, so that links of an older list do
  # not count.
  local saved waited=0
  saved=$(printf '"%s"=str(7):"' "${VELMO_LINKED_FACES[-1]}"
    printf '%s\\0' "${VELMO_FONT_LINKS[@]}"
    printf '"')
  until grep -qxF "$saved" "$WINEPREFIX/system.reg" 2>/dev/null; do
    if ((waited >= 90)); then
      echo "wine_prefix: font links not saved yet; checked again next time" >&2
      return 0
    fi
    sleep 1
    waited=$((waited + 1))
  done
  touch "$WINEPREFIX/$VELMO_FONT_STAMP"
}

velmo_windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# Everything a new prefix gets, in the prefix of the environment (WINEPREFIX
# and the rest from velmo_wine_env): Wine's own set-up and the settings the
# installer and its tests rely on. Runs in a subshell that holds the lock.
velmo_wine_prefix_init() {
  local key view link
  "$VELMO_WINE" wineboot -i </dev/null >/dev/null 2>&1 || {
    echo "wine_prefix: wineboot -i failed" >&2
    return 1
  }
  # A crashing test must fail at once, not wait in winedbg.
  key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug'
  for view in 64 32; do
    "$VELMO_WINE" reg add "$key" /v Debugger /t REG_SZ /d "" /f /reg:$view \
      </dev/null >/dev/null 2>&1 || {
      echo "wine_prefix: could not set AeDebug ($view-bit view)" >&2
      return 1
    }
  done
  local fonts=0
  velmo_wine_prefix_link_fonts || fonts=$?
  ((fonts == 1)) && return 1
  # Let the server write the registry out before the folders are changed.
  "$WINESERVER" -w
  ((fonts == 0)) && touch "$WINEPREFIX/$VELMO_FONT_STAMP"
  # Wine links the user's Desktop, Documents and the like to the Linux home
  # folder, which every prefix (and every other program of the user)
  # shares: a shortcut made there by one run would show in another. Each
  # prefix gets folders of its own instead.
  for link in "$WINEPREFIX"/drive_c/users/*/*; do
    [[ -L "$link" ]] || continue
    if ! rm -f "$link" || ! mkdir "$link"; then
      echo "wine_prefix: could not replace the link $link" >&2
      return 1
    fi
  done
}

velmo_wine_prefix_create() {
  velmo_wine_env || return 1
  local stamp="$WINEPREFIX/.velmo-prefix-ready"
  if [[ -f "$stamp" ]]; then
    # A prefix made before the font links gets them once.
    [[ -f "$WINEPREFIX/$VELMO_FONT_STAMP" ]] && return 0
    (
      exec 8>"$WINEPREFIX.lock"
      flock 8
      [[ -f "$WINEPREFIX/$VELMO_FONT_STAMP" ]] || velmo_wine_prefix_update_fonts
    )
    return
  fi
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    # Two suites starting at once must not both initialise the prefix.
    exec 8>"$WINEPREFIX.lock"
    flock 8
    [[ -f "$stamp" ]] && exit 0
    echo "wine_prefix: creating $WINEPREFIX" >&2
    t0=$SECONDS
    # A prefix left half-made by an interrupted run is started over.
    rm -rf "$WINEPREFIX"
    velmo_wine_prefix_init || exit 1
    touch "$stamp"
    echo "wine_prefix: ready in $((SECONDS - t0)) s" >&2
  )
}

# The folder of the template that fresh prefixes are copied from: one per
# Wine version and per content of velmo_wine_prefix_init (font links
# included), so that a change to either makes a new one.
velmo_wine_template_path() {
  local version recipe
  version=$("$VELMO_WINE" --version 2>/dev/null || echo unknown)
  recipe=$(
    declare -f velmo_wine_prefix_init velmo_wine_prefix_link_fonts
    printf '%s\n' "${VELMO_FONT_LINKS[@]}" "${VELMO_LINKED_FACES[@]}"
  )
  printf '%s/.cache/velmo/template-%s' "${HOME:-/root}" \
    "$(printf '%s\n%s' "$version" "$recipe" | sha256sum | cut -c1-12)"
}

# Makes the prefix anew: whatever earlier runs left in it (installations,
# registry keys, shortcuts, tasks) is gone. Its wineserver and every Wine
# process in it are ended first. A copy of a template (made once, about
# 15 s) takes a few seconds; wineboot would take 15.
velmo_wine_prefix_fresh() {
  velmo_wine_env || return 1
  local prefix=$WINEPREFIX template
  template=$(velmo_wine_template_path)
  (VELMO_WINEPREFIX=$template velmo_wine_prefix_create) || return 1
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
  mkdir -p "$(dirname "$prefix")"
  (
    exec 8>"$prefix.lock"
    flock 8
    rm -rf "$prefix"
    # The template is only read: its stamp is written last, under its lock.
    cp -a "$template" "$prefix.new.$$" && mv "$prefix.new.$$" "$prefix"
  ) || {
    echo "wine_prefix: could not copy $template to $prefix" >&2
    rm -rf "$prefix.new.$$"
    return 1
  }
  echo "wine_prefix: $prefix made fresh from $template" >&2
}

# A persistent wineserver keeps each process start at about 0.1 s instead of
# a fresh server start per test. The first Wine process also starts Wine's
# background services (services.exe, winedevice.exe), which then outlive it
# and keep its stdout and stderr open: started from a CTest test they would
# hold that test's output pipe and CTest would wait forever. So they are
# started here, with their output on /dev/null, before any test runs.
# With a number of seconds as argument, the server ends by itself that long
# after the prefix's last process, instead of running until it is stopped.
velmo_wine_server_start() {
  local persist=${1:-}
  velmo_wine_prefix_create || return 1
  # What the server says on its way out (a crash, a failed assertion) is
  # kept beside the prefix, for the report of a run that hangs or fails:
  # without the server every Wine process of the prefix waits forever.
  # With core dumps allowed, a server that crashes leaves a core in its own
  # folder instead of only a line, and the report prints its stack.
  (
    ulimit -c unlimited 2>/dev/null || true
    exec "$WINESERVER" "-p$persist" </dev/null >/dev/null 2>>"$(velmo_wine_server_log)"
  ) || return 1
  "$VELMO_WINE" wineboot </dev/null >/dev/null 2>&1 || return 1
}

# The file that takes the standard error of the prefix's wineserver.
velmo_wine_server_log() {
  printf '%s.wineserver.log' "$WINEPREFIX"
}

# The core a crashed wineserver of the prefix left in its folder (named
# after the prefix's device and inode below a per-user temporary folder),
# if any.
velmo_wine_server_core() {
  local dev ino core
  dev=$(stat -c %D "$WINEPREFIX" 2>/dev/null) || return 1
  ino=$(printf '%x' "$(stat -c %i "$WINEPREFIX")") || return 1
  for core in /tmp/wine-*/"server-$dev-$ino"/core* /tmp/.wine-"$(id -u)"/"server-$dev-$ino"/core*; do
    [[ -f "$core" ]] && printf '%s\n' "$core" && return 0
  done
  return 1
}

# Prints what the prefix's wineserver wrote, each line after |$1|, and the
# stack of a core it left; false when there is neither.
velmo_wine_server_said() {
  local log core said=1
  log=$(velmo_wine_server_log)
  if [[ -s "$log" ]]; then
    sed "s/^/$1/" "$log"
    said=0
  fi
  if core=$(velmo_wine_server_core); then
    echo "${1}the server left a core: $core"
    # The server is stripped: the load address turns the frames into
    # offsets that a build with symbols can name.
    if command -v gdb >/dev/null 2>&1; then
      gdb -batch -nx -ex 'bt 30' -ex 'info proc mappings' "$WINESERVER" "$core" 2>&1 |
        grep -E '^#|wineserver' | head -40 | sed "s/^/$1/"
    fi
    said=0
  fi
  return "$said"
}

# The pid of the prefix's running wineserver, if any.
velmo_wine_server_pid() {
  local candidate
  for candidate in $(pgrep wineserver); do
    if grep -qzxF "WINEPREFIX=$WINEPREFIX" "/proc/$candidate/environ" 2>/dev/null; then
      echo "$candidate"
      return 0
    fi
  done
  return 0
}

velmo_wine_server_stop() {
  velmo_wine_env || return 1
  "$WINESERVER" -k >/dev/null 2>&1 || true
}

# Holds the prefix for the rest of the calling shell's life: a run that
# stops the prefix's wineserver at its start and end, or installs into the
# prefix, must have it to itself. A second run that asks meanwhile waits
# until the first has ended, and says which run it waits for. Processes the
# holder starts inherit VELMO_PREFIX_HELD and do not ask again (tools/
# wine_exec.sh never asks).
#
# The lock is kept by a process of its own, which ends at most a fifth of a
# second after the shell that asked (however that ends): taken in the shell
# itself, the lock would be inherited by every process the run starts, and a
# wineserver that outlives the run would hold it for good. |1| names the run
# in the message a waiting run gives.
VELMO_PREFIX_KEEPER=""
velmo_wine_prefix_hold() {
  velmo_wine_env || return 1
  [[ "${VELMO_PREFIX_HELD:-}" == "$WINEPREFIX" ]] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  local lock="$WINEPREFIX.run.lock" record="$WINEPREFIX.run" answer fd
  local name="${1:-$(basename "$0")} (pid $$, in $VELMO_CLONE)"
  exec {fd}< <(
    exec </dev/null 2>/dev/null 9>"$lock"
    # A run that has just ended lets go within a moment: no need to say so.
    if ! flock -w 0.5 9; then
      echo waiting
      flock 9
    fi
    printf '%s since %s\n' "$name" "$(date +%H:%M:%S)" >"$record"
    echo held
    # Until the caller ends (looked at five times a second).
    tail -s 0.2 --pid="$$" -f /dev/null >/dev/null
  )
  VELMO_PREFIX_KEEPER=$!
  read -r -u "$fd" answer || answer=""
  if [[ "$answer" == waiting ]]; then
    echo "wine_prefix: $WINEPREFIX is held by $(cat "$record" 2>/dev/null || echo "another run");" \
      "waiting until that run has ended" >&2
    read -r -u "$fd" answer || answer=""
    [[ "$answer" == held ]] && echo "wine_prefix: $WINEPREFIX is free now" >&2
  fi
  exec {fd}<&-
  if [[ "$answer" != held ]]; then
    echo "wine_prefix: could not hold $WINEPREFIX (lock $lock)" >&2
    return 1
  fi
  export VELMO_PREFIX_HELD=$WINEPREFIX
}

# Lets the prefix go at once, rather than a moment after the shell's end.
velmo_wine_prefix_release() {
  [[ -n "$VELMO_PREFIX_KEEPER" ]] || return 0
  kill "$VELMO_PREFIX_KEEPER" 2>/dev/null || true
  VELMO_PREFIX_KEEPER=""
  unset VELMO_PREFIX_HELD
}

if [[ "${BASH_SOURCE[0]}" == "$0" ]]; then
  set -euo pipefail
  trap velmo_wine_prefix_release EXIT
  case "${1:-}" in
    create) velmo_wine_prefix_create ;;
    fresh) velmo_wine_prefix_hold "wine_prefix.sh fresh" && velmo_wine_prefix_fresh ;;
    start) velmo_wine_prefix_hold "wine_prefix.sh start" && velmo_wine_server_start ;;
    stop) velmo_wine_prefix_hold "wine_prefix.sh stop" && velmo_wine_server_stop ;;
    env)
      velmo_wine_env
      env | grep -E '^(WINE|DISPLAY=)' | sort
      ;;
    *)
      echo "usage: $0 create|fresh|start|stop|env" >&2
      exit 2
      ;;
  esac
fi
