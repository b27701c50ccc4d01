#!/usr/bin/env bash
# Draws the installer window's artwork with ImageMagick into
# desktop/windows/installer/resources/artwork (the files are kept in the
# repository; run this again after changing a drawing):
#   bash tools/make_installer_artwork.sh
# background.jpg  the window's backdrop, the main dialog's client size
# logo.png        the product mark with transparency
# error_badge.png the badge drawn over the logo's corner on the error page
# installer.ico   the window and file icon, 16 to 48 pixels
set -euo pipefail
out="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/desktop/windows/installer/resources/artwork"
mkdir -p "$out"

# A soft white-to-pale-blue backdrop. It changes only from top to bottom, so
# a control that cannot be transparent blends in with one colour.
convert -size 640x480 gradient:'#ffffff'-'#e4eef8' -quality 85 -strip "$out/background.jpg"

# The mark: a blue disc with a white chevron.
draw_mark() {
  local size=$1 file=$2
  local s
  s=$(awk -v n="$size" 'BEGIN { print n / 96 }')
  convert -size "${size}x${size}" xc:none \
    -fill '#1b5fd6' -draw "circle $(awk -v s="$s" 'BEGIN { print 48*s "," 48*s " " 48*s "," 4*s }')" \
    -fill none -stroke white -strokewidth "$(awk -v s="$s" 'BEGIN { print 10*s }')" \
    -draw "polyline $(awk -v s="$s" 'BEGIN { printf "%g,%g %g,%g %g,%g", 26*s,30*s, 48*s,68*s, 70*s,30*s }')" \
    -strip "PNG32:$file"
}
draw_mark 96 "$out/logo.png"

# The badge: a red disc with a white exclamation mark.
convert -size 32x32 xc:none -fill '#d93025' -draw 'circle 16,16 16,1' \
  -fill white -draw 'roundrectangle 14,6 18,19 2,2' -draw 'circle 16,24 16,26' \
  -strip "PNG32:$out/error_badge.png"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in 16 32 48; do
  draw_mark "$size" "$tmp/mark$size.png"
done
convert "$tmp/mark16.png" "$tmp/mark32.png" "$tmp/mark48.png" "$out/installer.ico"
