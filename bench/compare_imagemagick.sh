#!/usr/bin/env bash
# Side-by-side speed of qrv's image operations and ImageMagick's comparable operators on the
# same 6000 x 4000 RGB picture, both single-threaded (QRV_THREADS=1). ImageMagick's times include
# reading and writing the picture as PPM; the plain copy line measures that, and the ratio takes
# it off, so that it compares the operations alone.
#
#   bench/compare_imagemagick.sh [path/to/bench_image_ops] [runs]
#
# Prints each pair of times (best of `runs`) and the ratio (ImageMagick - copy) / qrv (above 1:
# qrv is faster).
set -euo pipefail
# shellcheck source=bench/compare_common.sh
. "$(dirname "$0")/compare_common.sh"
bench=${1:-$root/build/release/bench/bench_image_ops}
runs=${2:-3}
require_magick
make_work

# Our times (ms) from the benchmark program, which also writes the picture.
run_bench "$bench" 'BM_(Memcpy|RemoveSpeckles|UnsharpMask|ResampleLanczos3Half|RotateImage90)$'

{
  echo "copy $(best_magick)"
  echo "RemoveSpeckles $(best_magick -despeckle)"
  echo "UnsharpMask $(best_magick -unsharp 0x2+1+0)"
  echo "ResampleLanczos3Half $(best_magick -filter Lanczos -resize 50%)"
  echo "RotateImage90 $(best_magick -rotate 90)"
} >"$work/magick.txt"

print_table <<'PY'
labels = {"copy": ("Memcpy", "PPM in and out only (read/write cost)"),
          "RemoveSpeckles": ("RemoveSpeckles", "-despeckle"),
          "UnsharpMask": ("UnsharpMask", "-unsharp 0x2+1+0"),
          "ResampleLanczos3Half": ("ResampleLanczos3Half", "-filter Lanczos -resize 50%"),
          "RotateImage90": ("RotateImage90", "-rotate 90")}
copy = magick["copy"]
print(f"{'operation':22} {'qrv ms':>9} {'magick ms':>10} {'op only':>8} {'ratio':>7}  ImageMagick operator")
for key, (ourName, op) in labels.items():
    q, m = ours.get(ourName), magick[key]
    alone = m - copy if key != "copy" else m
    ratio = f"{alone / q:7.2f}" if q and key != "copy" else "      -"
    print(f"{ourName:22} {q:9.1f} {m:10.0f} {alone:8.0f} {ratio}  {op}")
PY
