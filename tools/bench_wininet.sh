#!/usr/bin/env bash
# Download throughput on 127.0.0.1 in one run: the WinInetDownloader into a
# FileResponseWriter, a minimal synchronous WinInet loop (64 KiB reads into a
# file) and curl, all fetching the same 200 MiB file from nginx.
#
#   VELMO_WINEPREFIX=... tools/bench_wininet.sh [--ours-only] [build-dir]
#                                                       (default: <repo>/build)
#
# nginx runs with a generated configuration on a free port and is stopped by
# its pid. Prints the three rates and the ratios; exits 1 when the downloader
# reaches less than 0.8 of the WinInet loop.
#
# With --ours-only curl does not run and no goal is checked: the program's
# two rates are printed alone (for tools/bench_compare.sh, which compares
# two builds).
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(dirname "$HERE")
OURS_ONLY=
if [[ "${1:-}" == --ours-only ]]; then
  OURS_ONLY=1
  shift
fi
BUILD=${1:-$ROOT/build}
EXE=$BUILD/bin/wininet_download_benchmark.exe
SIZE_MIB=200
MIN_RATIO=0.8
ROUNDS=7

[[ -f "$EXE" ]] || { echo "bench_wininet: $EXE not found; build target wininet_download_benchmark" >&2; exit 2; }
NGINX=$(command -v nginx || echo /usr/sbin/nginx)
[[ -x "$NGINX" ]] || { echo "bench_wininet: nginx not found (tools/setup.sh installs it)" >&2; exit 2; }
command -v curl >/dev/null || { echo "bench_wininet: curl not found" >&2; exit 2; }

# shellcheck source=wine_prefix.sh
source "$HERE/wine_prefix.sh"
# Nothing else runs in the prefix meanwhile (and no other run stops its
# wineserver under the benchmark).
velmo_wine_prefix_hold "tools/bench_wininet.sh"
DIR=$(mktemp -d /tmp/bench_wininet.XXXXXX)
chmod 755 "$DIR"
NGINX_PID=""
cleanup() {
  if [[ -n "$NGINX_PID" ]]; then
    kill "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
  fi
  rm -rf "$DIR"
}
trap cleanup EXIT
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY

mkdir -p "$DIR/www" "$DIR/out"
chmod 755 "$DIR/www"
chmod 777 "$DIR/out"
head -c $((SIZE_MIB * 1024 * 1024)) /dev/urandom >"$DIR/www/package.bin"
chmod 644 "$DIR/www/package.bin"

PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$DIR/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $DIR/nginx.pid;
error_log $DIR/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $DIR/tmp_body;
  proxy_temp_path $DIR/tmp_proxy;
  fastcgi_temp_path $DIR/tmp_fastcgi;
  uwsgi_temp_path $DIR/tmp_uwsgi;
  scgi_temp_path $DIR/tmp_scgi;
  server {
    listen 127.0.0.1:$PORT;
    root $DIR/www;
  }
}
CONF
"$NGINX" -c "$DIR/nginx.conf" -p "$DIR" </dev/null >"$DIR/nginx.out" 2>&1 &
NGINX_PID=$!
URL="http://127.0.0.1:$PORT/package.bin"
for _ in $(seq 100); do
  curl -sf -o /dev/null -r 0-0 "$URL" && break
  sleep 0.1
done
cat "$DIR/www/package.bin" >/dev/null

# Wine sees the Linux root as drive Z:.
out_win="Z:${DIR//\//\\}\\out"
output=$("$HERE/wine_exec.sh" "$EXE" "$URL" "$out_win" "$ROUNDS" | tr -d '\r')
downloader_rate=$(awk '$1 == "downloader" { print $4 }' <<<"$output")
loop_rate=$(awk '$1 == "wininet_loop" { print $4 }' <<<"$output")
[[ -n "$downloader_rate" && -n "$loop_rate" ]] || { echo "bench_wininet: the benchmark program failed:"; echo "$output"; exit 1; } >&2

if [[ -n "$OURS_ONLY" ]]; then
  echo "file: $SIZE_MIB MiB from nginx on 127.0.0.1, best of $ROUNDS rounds"
  echo "downloader:   $downloader_rate MiB/s"
  echo "wininet loop: $loop_rate MiB/s"
  exit 0
fi
best_curl=""
for _ in $(seq "$ROUNDS"); do
  t=$(curl -s -o "$DIR/out/curl.bin" -w '%{time_total}' "$URL")
  best_curl=$(awk -v a="$t" -v b="${best_curl:-1e9}" 'BEGIN { print (a < b) ? a : b }')
done
cmp -s "$DIR/out/curl.bin" "$DIR/www/package.bin" || { echo "bench_wininet: curl's copy differs" >&2; exit 1; }
curl_rate=$(awk -v s="$SIZE_MIB" -v t="$best_curl" 'BEGIN { printf "%.1f", s / t }')

echo "file: $SIZE_MIB MiB from nginx on 127.0.0.1, best of $ROUNDS rounds"
echo "downloader:   $downloader_rate MiB/s"
echo "wininet loop: $loop_rate MiB/s"
echo "curl:         $curl_rate MiB/s"
awk -v d="$downloader_rate" -v l="$loop_rate" -v c="$curl_rate" -v m="$MIN_RATIO" 'BEGIN {
  printf "downloader / wininet loop: %.2f\n", d / l
  printf "downloader / curl:         %.2f\n", d / c
  printf "wininet loop / curl:       %.2f\n", l / c
  exit (d / l < m) ? 1 : 0
}'
