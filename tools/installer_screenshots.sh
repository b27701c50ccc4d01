#!/usr/bin/env bash
# Pictures of the installer window: every page in every interface language,
# and one contact sheet per page with all languages side by side.
#   bash tools/installer_screenshots.sh
# Builds installer_window_screenshots in the build tree (VELMO_BUILD_DIR,
# default build), runs it under Wine on an Xvfb display of its own and
# writes <build>/screenshots/<PAGE>/<language>.png and
# <build>/screenshots/<PAGE>.png (the contact sheet, made by montage).
set -euo pipefail
VELMO_TOOL=screenshots
# shellcheck source=harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh"
velmo_wine_prefix_hold "tools/installer_screenshots.sh"
trap velmo_cleanup EXIT

ninja -C "$VELMO_BUILD" -j"$VELMO_JOBS" installer_window_screenshots
velmo_start_xvfb
velmo_wine_server_stop
velmo_wine_server_start

out="$VELMO_BUILD/screenshots"
rm -rf "$out"
mkdir -p "$out"
velmo_log "shooting into $out"
"$VELMO_ROOT/tools/wine_exec.sh" "$VELMO_BUILD/bin/installer_window_screenshots.exe" \
  "Z:${out//\//\\}"

for page_dir in "$out"/*/; do
  page=$(basename "$page_dir")
  for bmp in "$page_dir"*.bmp; do
    convert "$bmp" "${bmp%.bmp}.png"
    rm -f "$bmp"
  done
  montage -label '%t' -pointsize 14 -geometry +6+6 -tile 8x "$page_dir"*.png "$out/$page.png"
  velmo_log "contact sheet $out/$page.png"
done
