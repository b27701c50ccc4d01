#!/usr/bin/env bash
# Builds the third-party static libraries for Windows x86-64 into a cache
# outside the clone, one folder per library and version:
#
#   ${VELMO_DEPS_CACHE:-/var/cache/velmo-deps}/
#     openssl-<ver>/    include/openssl/  lib/libcrypto.a
#     lzma-<ver>/       include/lzma/     lib/liblzma_sdk.a     (7z decoder)
#     minizip-<ver>/    include/minizip/  lib/libminizip.a
#     googletest-<ver>/ include/{gtest,gmock}/ lib/lib{gtest,gmock}.a
#     deps-<hash>.cmake   the folders above, for cmake/third_party.cmake
#
# Each folder gets its .velmo-stamp last, so an interrupted build is redone on
# the next run; a folder whose stamp matches is left alone. Sources come from
# Debian's source packages (apt-get source), zlib from libz-mingw-w64-dev.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(dirname "$HERE")
VERSIONS_FILE="$HERE/deps_versions.sh"
# shellcheck source=deps_versions.sh
source "$VERSIONS_FILE"

CACHE=${VELMO_DEPS_CACHE:-/var/cache/velmo-deps}
JOBS=$(nproc)
TRIPLE=x86_64-w64-mingw32
CC=$TRIPLE-gcc-posix
CXX=$TRIPLE-g++-posix
AR=$TRIPLE-ar

# Progress goes to stderr: several helpers return their result on stdout.
log() { printf '[build_deps %s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }
die() { log "error: $*"; exit 1; }

for tool in "$CC" "$CXX" "$AR" perl make apt-get dpkg-source flock sha256sum; do
  command -v "$tool" >/dev/null || die "$tool not found; run tools/setup.sh as root"
done

mkdir -p "$CACHE" || die "cannot create $CACHE (set VELMO_DEPS_CACHE to a writable folder)"
# Two builds sharing a cache (parallel CI jobs) take turns.
exec 9>"$CACHE/.lock"
flock 9

WORK=$(mktemp -d "${TMPDIR:-/tmp}/velmo-deps.XXXXXX")
# apt-get source downloads as the _apt user where it can.
chmod 755 "$WORK"
trap 'rm -rf "$WORK"' EXIT
trap 'exit 1' INT TERM HUP

# 1:1.2.13.dfsg-1 -> 1.2.13, 22.01+really26.01+dfsg-0+deb12u1 -> 26.01
upstream_version() {
  local v=${1#*:}
  v=${v%-*}
  v=${v##*really}
  v=${v%+dfsg*}
  v=${v%.dfsg*}
  printf '%s\n' "$v"
}

stamp_ok() {  # <folder> <expected stamp text>
  [[ -f "$1/.velmo-stamp" && "$(cat "$1/.velmo-stamp")" == "$2" ]]
}

# Only called when something has to be built. An index older than a day may
# name versions the archive has dropped since, so it is refreshed first.
SRC_INDEX_UPDATED=0
ensure_source_index() {  # <package>
  if [[ $SRC_INDEX_UPDATED == 0 ]] &&
    { [[ -z "$(apt-cache showsrc "$1" 2>/dev/null)" ]] ||
      [[ -z "$(find /var/lib/apt/lists -maxdepth 1 -name '*_Sources*' -mmin -1440 2>/dev/null)" ]]; }; then
    log "refreshing apt's source index: apt-get update"
    apt-get update -qq >&2 || log "warning: apt-get update failed"
    SRC_INDEX_UPDATED=1
  fi
  [[ -n "$(apt-cache showsrc "$1" 2>/dev/null)" ]] ||
    die "apt knows no source package $1; the deb-src entry is missing (run tools/setup.sh)"
}

# Prints the Debian version to build: the pinned one when the archive still
# offers it, else the newest one it offers.
resolve_version() {  # <package> <pinned version>
  local pkg=$1 want=$2 v best=""
  ensure_source_index "$pkg"
  if apt-cache showsrc "$pkg" | grep -qxF "Version: $want"; then
    printf '%s\n' "$want"
    return
  fi
  for v in $(apt-cache showsrc "$pkg" | awk '/^Version:/ {print $2}'); do
    if [[ -z "$best" ]] || dpkg --compare-versions "$v" gt "$best"; then best=$v; fi
  done
  log "warning: $pkg $want is not offered; using $best"
  printf '%s\n' "$best"
}

# Unpacks a source package into $WORK/<package>/src and prints that path. The
# whole package with Debian's patches when possible; otherwise the upstream
# tarball alone (an archive may lack the .debian.tar of a version).
fetch_source() {  # <package> <debian version>
  local pkg=$1 ver=$2 top
  local dir="$WORK/$pkg"
  mkdir -p "$dir/dl"
  chmod 777 "$dir/dl"
  if (cd "$dir/dl" && apt-get source -qq "$pkg=$ver") >"$dir/fetch.log" 2>&1; then
    top=$(find "$dir/dl" -mindepth 1 -maxdepth 1 -type d | head -n1)
  else
    log "apt-get source $pkg=$ver failed; trying the upstream tarball alone"
    (cd "$dir/dl" && apt-get source -qq --download-only "$pkg=$ver") >>"$dir/fetch.log" 2>&1 || true
    local orig
    orig=$(find "$dir/dl" -maxdepth 1 -name '*.orig.tar.*' ! -name '*.asc' | head -n1)
    if [[ -z "$orig" ]]; then
      cat "$dir/fetch.log" >&2
      die "could not fetch the source of $pkg $ver"
    fi
    mkdir -p "$dir/orig"
    tar -xf "$orig" -C "$dir/orig"
    top=$(find "$dir/orig" -mindepth 1 -maxdepth 1 -type d | head -n1)
  fi
  [[ -n "$top" ]] || die "no source tree for $pkg $ver"
  mv "$top" "$dir/src"
  rm -rf "$dir/dl" "$dir/orig"
  printf '%s\n' "$dir/src"
}

# For a library built from a Debian source package, sets DEP_DEB_VERSION (the
# version to build), DEP_DIR, DEP_STAMP, and DEP_CACHED=1 when the cache holds it.
# Looks at apt only when the pinned version is not in the cache.
locate() {  # <folder prefix> <package> <pinned version>
  local prefix=$1 pkg=$2 pinned=$3
  DEP_CACHED=0
  DEP_DEB_VERSION=$pinned
  DEP_DIR="$CACHE/$prefix-$(upstream_version "$pinned")"
  DEP_STAMP="$pkg $pinned recipe $VELMO_DEPS_RECIPE"
  if ! stamp_ok "$DEP_DIR" "$DEP_STAMP"; then
    ensure_source_index "$pkg"
    DEP_DEB_VERSION=$(resolve_version "$pkg" "$pinned") || exit 1
    DEP_DIR="$CACHE/$prefix-$(upstream_version "$DEP_DEB_VERSION")"
    DEP_STAMP="$pkg $DEP_DEB_VERSION recipe $VELMO_DEPS_RECIPE"
    stamp_ok "$DEP_DIR" "$DEP_STAMP" || return 0
  fi
  DEP_CACHED=1
}

wait_all() {  # <pid>...: waits for every one, fails when any failed
  local pid failed=0
  for pid in "$@"; do wait "$pid" || failed=1; done
  return $failed
}

finish() {  # <folder> <stamp text> <start seconds>
  printf '%s\n' "$2" >"$1/.velmo-stamp"
  log "$(basename "$1") done in $((SECONDS - $3)) s"
}

build_openssl() {
  locate openssl openssl "$VELMO_OPENSSL_DEB_VERSION"
  if [[ $DEP_CACHED == 1 ]]; then
    log "$(basename "$DEP_DIR") cached"; OPENSSL_DIR=$DEP_DIR; OPENSSL_VER=$DEP_DEB_VERSION; return
  fi
  local t0=$SECONDS src
  log "building $(basename "$DEP_DIR") (openssl $DEP_DEB_VERSION, libcrypto with assembly)"
  src=$(fetch_source openssl "$DEP_DEB_VERSION")
  # perlasm emits GNU as for the mingw64 target, so no nasm is needed.
  # no-autoload-config: libcrypto must never read an openssl.cnf from a
  # folder baked in at build time, which on Windows any user may create.
  (cd "$src" &&
    ./Configure mingw64 --cross-compile-prefix=$TRIPLE- \
      no-shared no-tests no-engine no-dso no-module no-autoload-config &&
    make build_generated &&
    make -j"$JOBS" libcrypto.a) >"$WORK/openssl.log" 2>&1 || {
    tail -n 60 "$WORK/openssl.log" >&2
    die "openssl build failed"
  }
  rm -rf "$DEP_DIR"
  mkdir -p "$DEP_DIR/include/openssl" "$DEP_DIR/lib"
  cp "$src/libcrypto.a" "$DEP_DIR/lib/"
  cp "$src"/include/openssl/*.h "$DEP_DIR/include/openssl/"
  finish "$DEP_DIR" "$DEP_STAMP" "$t0"
  OPENSSL_DIR=$DEP_DIR; OPENSSL_VER=$DEP_DEB_VERSION
}

LZMA_SOURCES="7zArcIn.c 7zDec.c 7zStream.c 7zCrc.c 7zCrcOpt.c 7zBuf.c 7zAlloc.c
  LzmaDec.c Lzma2Dec.c Bcj2.c Bra.c Bra86.c BraIA64.c Delta.c CpuArch.c"

build_lzma() {
  locate lzma 7zip "$VELMO_7ZIP_DEB_VERSION"
  if [[ $DEP_CACHED == 1 ]]; then
    log "$(basename "$DEP_DIR") cached"; LZMA_DIR=$DEP_DIR; LZMA_VER=$DEP_DEB_VERSION; return
  fi
  local t0=$SECONDS src f obj="$WORK/lzma-obj"
  log "building $(basename "$DEP_DIR") (7zip $DEP_DEB_VERSION, 7z decoder)"
  src=$(fetch_source 7zip "$DEP_DEB_VERSION")
  mkdir -p "$obj"
  local pids=()
  for f in $LZMA_SOURCES; do
    "$CC" -O2 -c "$src/C/$f" -o "$obj/${f%.c}.o" &
    pids+=($!)
  done
  wait_all "${pids[@]}" || die "lzma build failed"
  rm -rf "$DEP_DIR"
  mkdir -p "$DEP_DIR/include/lzma" "$DEP_DIR/lib"
  "$AR" rcs "$DEP_DIR/lib/liblzma_sdk.a" "$obj"/*.o
  cp "$src"/C/*.h "$DEP_DIR/include/lzma/"
  finish "$DEP_DIR" "$DEP_STAMP" "$t0"
  LZMA_DIR=$DEP_DIR; LZMA_VER=$DEP_DEB_VERSION
}

build_minizip() {
  locate minizip zlib "$VELMO_ZLIB_DEB_VERSION"
  if [[ $DEP_CACHED == 1 ]]; then
    log "$(basename "$DEP_DIR") cached"; MINIZIP_DIR=$DEP_DIR; MINIZIP_VER=$DEP_DEB_VERSION; return
  fi
  local t0=$SECONDS src f obj="$WORK/minizip-obj"
  log "building $(basename "$DEP_DIR") (zlib $DEP_DEB_VERSION, contrib/minizip)"
  [[ -f /usr/$TRIPLE/include/zlib.h && -f /usr/$TRIPLE/lib/libz.a ]] ||
    die "libz-mingw-w64-dev is not installed; run tools/setup.sh"
  src=$(fetch_source zlib "$DEP_DEB_VERSION")
  mkdir -p "$obj"
  local pids=()
  for f in zip.c unzip.c ioapi.c iowin32.c; do
    "$CC" -O2 -c "$src/contrib/minizip/$f" -o "$obj/${f%.c}.o" 2>>"$WORK/minizip.log" &
    pids+=($!)
  done
  wait_all "${pids[@]}" || { cat "$WORK/minizip.log" >&2; die "minizip build failed"; }
  rm -rf "$DEP_DIR"
  mkdir -p "$DEP_DIR/include/minizip" "$DEP_DIR/lib"
  "$AR" rcs "$DEP_DIR/lib/libminizip.a" "$obj"/*.o
  cp "$src"/contrib/minizip/*.h "$DEP_DIR/include/minizip/"
  finish "$DEP_DIR" "$DEP_STAMP" "$t0"
  MINIZIP_DIR=$DEP_DIR; MINIZIP_VER=$DEP_DEB_VERSION
}

# gtest is built from its two amalgamated sources with the same compiler
# and -fno-exceptions/-std=c++20 as the project's own code. Its CMake build
# adds -fexceptions to the libraries whatever the flags say, which would leave
# the library and the tests disagreeing about GTEST_HAS_EXCEPTIONS.
build_googletest() {
  local gsrc=/usr/src/googletest installed
  [[ -f $gsrc/googletest/src/gtest-all.cc && -f $gsrc/googlemock/src/gmock-all.cc ]] ||
    die "$gsrc is missing; install Debian's googletest package (tools/setup.sh)"
  installed=$(dpkg-query -W -f='${Version}' googletest 2>/dev/null || true)
  [[ -n "$installed" ]] || die "Debian's googletest package is not installed"
  local ver
  ver=$(upstream_version "$installed")
  [[ "$ver" == "$VELMO_GOOGLETEST_VERSION" ]] ||
    log "warning: googletest $ver is installed, $VELMO_GOOGLETEST_VERSION expected; building $ver"
  DEP_DIR="$CACHE/googletest-$ver"
  DEP_STAMP="googletest $installed recipe $VELMO_DEPS_RECIPE"
  if stamp_ok "$DEP_DIR" "$DEP_STAMP"; then
    log "$(basename "$DEP_DIR") cached"; GOOGLETEST_DIR=$DEP_DIR; GOOGLETEST_VER=$installed; return
  fi
  local t0=$SECONDS obj="$WORK/gtest-obj"
  log "building $(basename "$DEP_DIR") (gtest + gmock, -fno-exceptions)"
  mkdir -p "$obj"
  local flags=(-O2 -std=c++20 -fno-exceptions
    -I"$gsrc/googletest/include" -I"$gsrc/googletest"
    -I"$gsrc/googlemock/include" -I"$gsrc/googlemock")
  "$CXX" "${flags[@]}" -c "$gsrc/googletest/src/gtest-all.cc" -o "$obj/gtest-all.o" &
  local p1=$!
  "$CXX" "${flags[@]}" -c "$gsrc/googlemock/src/gmock-all.cc" -o "$obj/gmock-all.o" &
  wait_all $p1 $! || die "googletest build failed"
  rm -rf "$DEP_DIR"
  mkdir -p "$DEP_DIR/include" "$DEP_DIR/lib"
  "$AR" rcs "$DEP_DIR/lib/libgtest.a" "$obj/gtest-all.o"
  "$AR" rcs "$DEP_DIR/lib/libgmock.a" "$obj/gmock-all.o"
  cp -r "$gsrc/googletest/include/gtest" "$gsrc/googlemock/include/gmock" "$DEP_DIR/include/"
  finish "$DEP_DIR" "$DEP_STAMP" "$t0"
  GOOGLETEST_DIR=$DEP_DIR; GOOGLETEST_VER=$installed
}

T0=$SECONDS
log "cache: $CACHE ($JOBS jobs)"
# The small ones first: they finish in seconds, OpenSSL takes a minute or more.
build_lzma
build_minizip
build_googletest
build_openssl

# The record cmake/third_party.cmake reads, named after the versions file it
# was built from, so a changed pin is noticed at configure time.
PIN_HASH=$(sha256sum "$VERSIONS_FILE" | cut -c1-16)
RECORD="$CACHE/deps-$PIN_HASH.cmake"
cat >"$RECORD.tmp" <<EOF
# Written by tools/build_deps.sh; do not edit.
set(VELMO_DEP_OPENSSL_DIR "$OPENSSL_DIR")
set(VELMO_DEP_OPENSSL_VERSION "$OPENSSL_VER")
set(VELMO_DEP_LZMA_DIR "$LZMA_DIR")
set(VELMO_DEP_LZMA_VERSION "$LZMA_VER")
set(VELMO_DEP_MINIZIP_DIR "$MINIZIP_DIR")
set(VELMO_DEP_MINIZIP_VERSION "$MINIZIP_VER")
set(VELMO_DEP_GOOGLETEST_DIR "$GOOGLETEST_DIR")
set(VELMO_DEP_GOOGLETEST_VERSION "$GOOGLETEST_VER")
set(VELMO_DEP_ZLIB_LIBRARY "/usr/$TRIPLE/lib/libz.a")
set(VELMO_DEP_ZLIB_VERSION "$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev)")
EOF
mv "$RECORD.tmp" "$RECORD"
log "all dependencies ready in $((SECONDS - T0)) s ($RECORD)"
