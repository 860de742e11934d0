#!/usr/bin/env bash
# Installs what is missing, builds the optimised variant, makes a few camera-like JPEGs with an
# EXIF block (the cold cast of a fired flash, low contrast, noise, a long exposure with hot
# pixels, orientation 6)
# and corrects them with the qrv command.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" release

demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo/pictures" "$demo/home"
cp "$root/app/default.qrv" "$demo/home/default.qrv"
pics="$demo/pictures"

# A plain scene: sky, ground and a few shapes, deterministic.
scene() {
  convert -size 800x600 gradient:'#6a9ad0'-'#3d6b2a' \
    -fill '#c8a060' -draw 'rectangle 80,380 300,560' \
    -fill '#d04030' -draw 'circle 560,300 620,360' \
    -fill '#f0f0f0' -draw 'rectangle 400,420 720,470' "$@"
}
scene -fill '#4070ff' -colorize 22% -quality 92 "$pics/cast.jpg"
scene +level 32%,68% -quality 92 "$pics/flat.jpg"
scene -seed 7 -attenuate 0.7 +noise Gaussian -quality 92 "$pics/noisy.jpg"
hot=""
for i in $(seq 1 40); do hot="$hot point $(( (i * 197) % 800 )),$(( (i * 131) % 600 ))"; done
scene -evaluate multiply 0.35 -fill white -draw "$hot" -quality 95 "$pics/night.jpg"
scene -rotate -90 -quality 92 "$pics/portrait.jpg"

if command -v exiftool >/dev/null; then
  common=(-q -overwrite_original -Make="Demo Camera" -Model="DC-100" -DateTimeOriginal="2024:05:06 07:08:09"
          -FNumber=4.0 -ISO=100 -ColorSpace=1 -Orientation=1 -n)
  exiftool "${common[@]}" -ExposureTime=0.004 -ExifIFD:Flash=1 "$pics/cast.jpg"
  exiftool "${common[@]}" -ExposureTime=0.004 -ExifIFD:Flash=0 "$pics/flat.jpg"
  exiftool "${common[@]}" -ExposureTime=0.02 -ISO=800 -ExifIFD:Flash=0 "$pics/noisy.jpg"
  exiftool "${common[@]}" -ExposureTime=8 -ExifIFD:Flash=0 "$pics/night.jpg"
  exiftool "${common[@]}" -ExposureTime=0.008 -ExifIFD:Flash=0 -Orientation=6 "$pics/portrait.jpg"
fi

set +e
"$root/build/release/app/qrv" --home "$demo/home" "$pics"
status=$?
set -e
echo
echo "sources:         $pics"
echo "corrected files: $pics/QRV"
ls -1 "$pics/QRV" | sed 's/^/  /'
echo "log:             $demo/home/help/log.html"
exit $status
