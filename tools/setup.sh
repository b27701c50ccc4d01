#!/usr/bin/env bash
# Prepares a Debian 12 machine to build and test the project, as root:
#   - a deb-src entry for Debian's main archive (third-party sources),
#   - the toolchain, Wine and the test tools from apt,
#   - the third-party libraries (tools/build_deps.sh).
# Safe to run again: when everything is in place it takes about a second.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

log() { printf '[setup %s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }

PACKAGES=(
  # Cross toolchain (POSIX threads flavour) and static zlib for Windows.
  g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev
  # Build system.
  cmake ninja-build ccache make perl python3
  # Unpacking Debian source packages.
  dpkg-dev xz-utils bzip2
  # Running and looking at the Windows binaries.
  wine wine64 xvfb imagemagick
  # Glyphs for every script the installer speaks (Vietnamese, Kazakh and
  # Azerbaijani letters, Thai, Indic, CJK), linked to Wine's dialog fonts by
  # tools/wine_prefix.sh.
  fonts-dejavu-core fonts-noto-ui-core fonts-noto-cjk
  # Test fixtures: 7z archives and Authenticode signatures.
  7zip osslsigncode openssl
  # Network tests and the download benchmark: a production server and a reference client.
  nginx-light curl
  # The source format check of CI.
  clang-format
  # The installer that tools/bench_vs_nsis.sh races against.
  nsis
  # gtest sources, cross-compiled by build_deps.sh.
  googletest
)

SRC_LIST=/etc/apt/sources.list.d/debian-src.sources
MAIN_LIST=/etc/apt/sources.list.d/debian.sources

missing_packages() {
  local status
  status=$(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' "${PACKAGES[@]}" 2>/dev/null || true)
  local p
  for p in "${PACKAGES[@]}"; do
    grep -qxF "$p ii " <<<"$status" || printf '%s\n' "$p"
  done
}

has_deb_src() {
  grep -rqsE '^[[:space:]]*(Types:.*deb-src|deb-src[[:space:]])' \
    /etc/apt/sources.list /etc/apt/sources.list.d/
}

# Copies the main archive's entries (not the security archive's, which may
# lack the .debian.tar of a version) with Types: deb-src.
write_deb_src() {
  if [[ -f "$MAIN_LIST" ]]; then
    awk '
      function flush() {
        if (block != "" && types ~ /(^|[[:space:]])deb([[:space:]]|$)/ && suites !~ /-security/)
          printf "%s%s\n", (n++ ? "\n" : ""), block
        block = ""; types = ""; suites = ""
      }
      /^[[:space:]]*$/ { flush(); next }
      /^#/ { next }
      /^Types:/ { types = $0; sub(/^Types:.*/, "Types: deb-src") }
      /^Suites:/ { suites = $0 }
      { block = block $0 "\n" }
      END { flush() }
    ' "$MAIN_LIST" >"$SRC_LIST.tmp"
  elif [[ -f /etc/apt/sources.list ]]; then
    grep -E '^deb[[:space:]]' /etc/apt/sources.list | grep -v -- '-security' |
      sed 's/^deb[[:space:]]/deb-src /' >"${SRC_LIST%.sources}.list.tmp"
    SRC_LIST=${SRC_LIST%.sources}.list
  fi
  if [[ ! -s "$SRC_LIST.tmp" ]]; then
    rm -f "$SRC_LIST.tmp"
    log "error: found no Debian main archive entry to copy as deb-src"
    exit 1
  fi
  mv "$SRC_LIST.tmp" "$SRC_LIST"
  log "wrote $SRC_LIST"
}

T0=$SECONDS
need_update=0
if ! has_deb_src; then
  [[ $EUID == 0 ]] || { log "error: run as root to add the deb-src entry"; exit 1; }
  write_deb_src
  need_update=1
fi

mapfile -t MISSING < <(missing_packages)
if ((${#MISSING[@]})); then
  [[ $EUID == 0 ]] || { log "error: run as root to install: ${MISSING[*]}"; exit 1; }
  need_update=1
fi
if ((need_update)); then
  log "apt-get update"
  apt-get update -qq
fi
if ((${#MISSING[@]})); then
  log "installing: ${MISSING[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${MISSING[@]}" >/dev/null
fi

bash "$HERE/build_deps.sh"
log "done in $((SECONDS - T0)) s"
