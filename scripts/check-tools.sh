#!/usr/bin/env bash
# Checks, once before the tests, that the reference tools the tests compare against can do what
# the tests ask of them (not only that they are installed); stops naming the missing package.
#   ImageMagick reads WMF files only with libmagickcore-6.q16-6-extra;
#   libwmf's wmf2gd draws nothing without fonts-urw-base35, its fonts.
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A one-inch placeable metafile with a red rectangle, written word by word (little-endian).
w() { local v; for v in "$@"; do printf "\\x$(printf %02x $((v & 255)))\\x$(printf %02x $(((v >> 8) & 255)))"; done; }
d() { local v; for v in "$@"; do w $((v & 65535)) $(((v >> 16) & 65535)); done; }
{
  header=(0xCDD7 0x9AC6 0 0 0 1440 1440 1440 0 0)  # key, handle, bounds, units per inch, reserved
  sum=0
  for v in "${header[@]}"; do sum=$((sum ^ v)); done
  w "${header[@]}" "$sum"
  w 1 9 0x0300; d 40; w 1; d 7; w 0  # type, header words, version, size in words, objects, largest record
  d 5; w 0x020B 0 0                   # window origin
  d 5; w 0x020C 1440 1440             # window extent
  d 7; w 0x02FC 0 0x00FF 0 0          # solid red brush
  d 4; w 0x012D 0                     # select it
  d 7; w 0x041B 1200 1200 240 240     # rectangle
  d 3; w 0                            # end
} >"$work/check.wmf"

missing=()
need() {  # what is wrong, package
  echo "$1: install $2" >&2
  missing+=("$2")
}
# The tests call /usr/bin/convert itself: another convert earlier on the PATH is not ImageMagick's.
if [ ! -x /usr/bin/convert ]; then
  need "ImageMagick's convert is missing" imagemagick
elif ! /usr/bin/convert "$work/check.wmf" "$work/check.ppm" >"$work/convert.log" 2>&1 || [ ! -s "$work/check.ppm" ]; then
  sed 's/^/  /' "$work/convert.log" >&2
  need "ImageMagick cannot read WMF files" libmagickcore-6.q16-6-extra
fi
if ! command -v wmf2gd >/dev/null; then
  need "libwmf's wmf2gd is missing" libwmf-bin
elif ! wmf2gd -t png -o "$work/check.png" "$work/check.wmf" >"$work/wmf2gd.log" 2>&1 || [ ! -s "$work/check.png" ]; then
  sed 's/^/  /' "$work/wmf2gd.log" >&2
  need "libwmf cannot draw a WMF file (its fonts are missing)" fonts-urw-base35
fi
if ((${#missing[@]})); then
  echo "reference tools incomplete: apt-get install ${missing[*]} (or run scripts/install-deps.sh)" >&2
  exit 1
fi
echo "reference tools: ImageMagick reads WMF, libwmf draws it"
