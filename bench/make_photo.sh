#!/usr/bin/env bash
# Prepares build/photo-1920x1080.rgb, the photograph that bench_encode,
# bench_decode and bench_frame_request use beside their synthetic pictures
# when the file is there (BenchPhoto.h; KEO_BENCH_PHOTO points elsewhere).
# `make bench` runs it first and goes on without the photograph if it fails.
#
# One 2560x1600 JPEG photograph (ColorfulCups, rows of plastic cups: smooth
# shading, hard edges, fine grain) is taken from Debian's
# plasma-workspace-wallpapers package file, which is downloaded but not
# installed, decoded at 3/4 scale (1920x1200) with djpeg
# (libjpeg-turbo-progs, installed here if missing: only the bench needs it),
# and its middle 1080 rows are kept as raw 8-bit RGB, top row first.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/build/photo-1920x1080.rgb}"
[ -s "$out" ] && exit 0

if ! command -v djpeg >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        libjpeg-turbo-progs >/dev/null
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get download -qq plasma-workspace-wallpapers)
deb="$(ls "$work"/*.deb)"
jpeg=./usr/share/wallpapers/ColorfulCups/contents/images/2560x1600.jpg
dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$work" "$jpeg"

# A binary PPM is a short text header, then the RGB rows.
row=$((1920 * 3))
djpeg -scale 3/4 -pnm "$work/$jpeg" >"$work/photo.ppm"
header=$(($(stat -c %s "$work/photo.ppm") - 1200 * row))
[ "$header" -gt 0 ] && [ "$header" -lt 32 ] || { echo "make_photo: not 1920x1200" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
dd if="$work/photo.ppm" of="$out.tmp" bs="$row" skip=$((header + 60 * row)) count=1080 \
    iflag=skip_bytes,fullblock status=none
[ "$(stat -c %s "$out.tmp")" -eq $((1080 * row)) ] || { echo "make_photo: short read" >&2; exit 1; }
mv "$out.tmp" "$out"
echo "make_photo: $out from ${jpeg#./}"
