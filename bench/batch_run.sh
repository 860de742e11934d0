#!/usr/bin/env bash
# Speed of a whole batch run: the qrv command with the shipped default profile over copies of a
# 12-megapixel camera-like JPEG (with an EXIF block), against the decode + encode floor of the
# same files (djpeg | cjpeg at the output quality), both single-threaded, in the same run.
#
#   bench/batch_run.sh [path/to/qrv] [copies]
set -euo pipefail
# shellcheck source=bench/compare_common.sh
. "$(dirname "$0")/compare_common.sh"
qrv=${1:-$root/build/release/app/qrv}
copies=${2:-20}
for tool in convert djpeg cjpeg; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
make_work
mkdir -p "$work/home" "$work/in" "$work/floor"
cp "$root/app/default.qrv" "$work/home/default.qrv"

# A photo-like 4000 x 3000 picture: smooth colour fields with detail and a little noise.
convert -size 1000x750 -seed 11 plasma:fractal -blur 0x2 -resize 4000x3000! \
  -attenuate 0.3 +noise Gaussian -quality 92 "$work/camera.jpg"
if command -v exiftool >/dev/null; then
  exiftool -q -overwrite_original -Make="Demo Camera" -Model="DC-100" -ExposureTime=0.008 -FNumber=5.6 \
    -ISO=200 -ExifIFD:Flash=0 -ColorSpace=1 -Orientation=1 -n "$work/camera.jpg"
fi
for i in $(seq -w 1 "$copies"); do cp "$work/camera.jpg" "$work/in/IMG_$i.jpg"; done

t0=$(date +%s%N)
"$qrv" -q --home "$work/home" --yes "$work/in" >/dev/null
t1=$(date +%s%N)
quality=$(grep -i -m1 '^CQ=' "$root/app/default.qrv" | cut -d= -f2 | tr -d '\r ' || true)
quality=${quality:-90}
t2=$(date +%s%N)
for f in "$work"/in/IMG_*.jpg; do
  djpeg "$f" | cjpeg -quality "$quality" >"$work/floor/$(basename "$f")"
done
t3=$(date +%s%N)

run=$(ms "$t0" "$t1")
floor=$(ms "$t2" "$t3")
written=$(ls "$work/in/QRV" | grep -c '_QRV' || true)
echo "pictures:            $copies x 4000 x 3000 ($written written)"
echo "qrv run:             $run ms ($(( copies * 60000 / (run > 0 ? run : 1) )) pictures per minute)"
echo "djpeg | cjpeg -q $quality: $floor ms"
awk -v a="$run" -v b="$floor" 'BEGIN { printf "ratio:               %.2f (target: within 10)\n", a / b }'
