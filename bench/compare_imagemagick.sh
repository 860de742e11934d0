#!/usr/bin/env bash
# Side-by-side speed of qrv's image operations and ImageMagick's comparable operators on the
# same 6000 x 4000 RGB picture, both single-threaded; ImageMagick reads and writes PPM, so
# decoding and encoding cost next to nothing (the plain copy line shows how much).
#
#   bench/compare_imagemagick.sh [path/to/bench_image_ops] [runs]
#
# Prints each pair of times (best of `runs`) and the ratio ImageMagick / qrv (above 1: qrv
# is faster).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench=${1:-$root/build/release/bench/bench_image_ops}
runs=${2:-3}
convert=/usr/bin/convert
if ! "$convert" -version 2>/dev/null | grep -q ImageMagick; then
  echo "ImageMagick's convert is not installed at $convert" >&2
  exit 2
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1

# Our times (ms) from the benchmark program, which also writes the picture.
QRV_BENCH_PPM=$work/in.ppm "$bench" --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=false \
  --benchmark_filter='BM_(Memcpy|RemoveSpeckles|UnsharpMask|ResampleLanczos3Half|RotateImage90)$' \
  --benchmark_format=json >"$work/qrv.json"

best_magick() {  # best wall time in ms of: convert in.ppm <operator...> out.ppm
  local best=""
  for _ in $(seq "$runs"); do
    local t0 t1 ms
    t0=$(date +%s%N)
    "$convert" "$work/in.ppm" "$@" "$work/out.ppm"
    t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

{
  echo "copy $(best_magick)"
  echo "RemoveSpeckles $(best_magick -despeckle)"
  echo "UnsharpMask $(best_magick -unsharp 0x2+1+0)"
  echo "ResampleLanczos3Half $(best_magick -filter Lanczos -resize 50%)"
  echo "RotateImage90 $(best_magick -rotate 90)"
} >"$work/magick.txt"

python3 - "$work/qrv.json" "$work/magick.txt" <<'PY'
import json, sys
ours = {}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") == "iteration":
        name = b["run_name"].replace("BM_", "") if "run_name" in b else b["name"].replace("BM_", "")
        ours[name] = min(ours.get(name, 1e18), b["real_time"])
magick = dict(line.split() for line in open(sys.argv[2]))
labels = {"copy": ("Memcpy", "PPM in and out only (read/write cost)"),
          "RemoveSpeckles": ("RemoveSpeckles", "-despeckle"),
          "UnsharpMask": ("UnsharpMask", "-unsharp 0x2+1+0"),
          "ResampleLanczos3Half": ("ResampleLanczos3Half", "-filter Lanczos -resize 50%"),
          "RotateImage90": ("RotateImage90", "-rotate 90")}
print(f"{'operation':22} {'qrv ms':>9} {'magick ms':>10} {'ratio':>7}  ImageMagick operator")
for key, (ourName, op) in labels.items():
    q, m = ours.get(ourName), float(magick[key])
    ratio = f"{m / q:7.2f}" if q and key != "copy" else "      -"
    print(f"{ourName:22} {q:9.1f} {m:10.0f} {ratio}  {op}")
PY
