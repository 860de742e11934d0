#!/usr/bin/env bash
# Side-by-side speed of the engine's hot-pixel removal and two-pass resampler and
# ImageMagick's comparable operators on the same 6000 x 4000 RGB picture, single-threaded.
# ImageMagick reads and writes PPM; the "copy" line (convert in.ppm out.ppm) shows what that
# costs, and the second ratio leaves it out.
#
#   bench/compare_engine_imagemagick.sh [path/to/bench_engine_filters] [runs]
set -euo pipefail
# shellcheck source=bench/compare_common.sh
. "$(dirname "$0")/compare_common.sh"
bench=${1:-$root/build/release/bench/bench_engine_filters}
runs=${2:-3}
require_magick
make_work

run_bench "$bench" 'BM_(Memcpy|RemoveHotPixels3|ResamplerHalf)$'

{
  echo "copy $(best_magick)"
  echo "RemoveHotPixels3 $(best_magick -statistic Median 3x3)"
  echo "ResamplerHalf $(best_magick -filter Triangle -resize 50%)"
} >"$work/magick.txt"

print_table <<'PY'
io = magick["copy"]
print(f"{'operation':18} {'qrv ms':>8} {'magick ms':>10} {'ratio':>7} {'ratio-io':>9}  ImageMagick operator")
print(f"{'memcpy / copy':18} {ours['Memcpy']:8.1f} {io:10.0f} {'-':>7} {'-':>9}  convert in.ppm out.ppm")
for name, op in (("RemoveHotPixels3", "-statistic Median 3x3"), ("ResamplerHalf", "-filter Triangle -resize 50%")):
    q, m = ours[name], magick[name]
    print(f"{name:18} {q:8.1f} {m:10.0f} {m / q:7.2f} {(m - io) / q:9.2f}  {op}")
PY
