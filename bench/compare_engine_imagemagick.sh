#!/usr/bin/env bash
# Side-by-side speed of the engine's hot-pixel removal and two-pass resampler and
# ImageMagick's comparable operators on the same 6000 x 4000 RGB picture, single-threaded.
# ImageMagick reads and writes PPM; the "copy" line (convert in.ppm out.ppm) shows what that
# costs, and the second ratio leaves it out.
#
#   bench/compare_engine_imagemagick.sh [path/to/bench_engine_filters] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench=${1:-$root/build/release/bench/bench_engine_filters}
runs=${2:-3}
convert=/usr/bin/convert
if ! "$convert" -version 2>/dev/null | grep -q ImageMagick; then
  echo "ImageMagick's convert is not installed at $convert" >&2
  exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1

QRV_BENCH_PPM=$work/in.ppm "$bench" --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=false \
  --benchmark_filter='BM_(Memcpy|RemoveHotPixels3|ResamplerHalf)$' --benchmark_format=json >"$work/qrv.json"

best_magick() {  # best wall time in ms of: convert in.ppm <operator...> out.ppm
  local best=""
  for _ in $(seq "$runs"); do
    local t0 t1 ms
    t0=$(date +%s%N)
    "$convert" "$work/in.ppm" "$@" "$work/out.ppm"
    t1=$(date +%s%N)
    ms=$(((t1 - t0) / 1000000))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

{
  echo "copy $(best_magick)"
  echo "RemoveHotPixels3 $(best_magick -statistic Median 3x3)"
  echo "ResamplerHalf $(best_magick -filter Triangle -resize 50%)"
} >"$work/magick.txt"

python3 - "$work/qrv.json" "$work/magick.txt" <<'PY'
import json, sys
ours = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") == "iteration":
        name = b.get("run_name", b["name"]).replace("BM_", "")
        ours[name] = min(ours.get(name, 1e18), b["real_time"])
magick = {k: float(v) for k, v in (line.split() for line in open(sys.argv[2]))}
io = magick["copy"]
print(f"{'operation':18} {'qrv ms':>8} {'magick ms':>10} {'ratio':>7} {'ratio-io':>9}  ImageMagick operator")
print(f"{'memcpy / copy':18} {ours['Memcpy']:8.1f} {io:10.0f} {'-':>7} {'-':>9}  convert in.ppm out.ppm")
for name, op in (("RemoveHotPixels3", "-statistic Median 3x3"), ("ResamplerHalf", "-filter Triangle -resize 50%")):
    q, m = ours[name], magick[name]
    print(f"{name:18} {q:8.1f} {m:10.0f} {m / q:7.2f} {(m - io) / q:9.2f}  {op}")
PY
