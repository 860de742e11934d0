#!/usr/bin/env bash
# Speed of a whole batch run: the qrv command with the shipped default profile over 20
# camera-like 8-megapixel JPEGs (noise, fine detail, an EXIF block) that the script makes, against
# the decode + encode floor of the same files (djpeg | cjpeg at the output quality, one file after
# another), with QRV_THREADS=1 and with all cores, and qrv's peak memory against the size of one
# picture's RGB pixels. The three are timed side by side in each round, so that the ratios hold
# on a busy machine; the best and the median round are printed with the load average.
#
#   bench/batch_run.sh [path/to/qrv] [rounds] [pictures]
set -euo pipefail
# shellcheck source=bench/compare_common.sh
. "$(dirname "$0")/compare_common.sh"
qrv=${1:-$root/build/release/app/qrv}
rounds=${2:-3}
count=${3:-20}
width=3264
height=2448
for tool in "$convert" djpeg cjpeg exiftool /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
make_work
mkdir -p "$work/home" "$work/in" "$work/floor"
cp "$root/app/default.qrv" "$work/home/default.qrv"
quality=$(grep -i -m1 '^CQ=' "$root/app/default.qrv" | cut -d= -f2 | tr -d '\r ' || true)
quality=${quality:-90}

# Five different scenes (smooth colour fields, a fence of thin lines, a fine checker, sensor
# noise), each with a camera's EXIF block; every scene is used four times.
for s in 1 2 3 4 5; do
  "$convert" -size 816x612 -seed "$s" plasma:fractal -blur 0x1.5 -resize "${width}x${height}!" \
    \( -size "${width}x${height}" xc:none -fill 'rgba(255,255,255,0.5)' \
       -draw "path 'M 0,0 $(for x in $(seq 40 24 1600); do printf 'M %d,0 L %d,1200 ' "$x" "$x"; done)'" \) \
    -composite \( -size 64x64 pattern:checkerboard -write mpr:c +delete \) \
    -fill mpr:c -draw "rectangle 1800,1300 2600,2100" \
    -attenuate 0.4 +noise Gaussian -quality 92 "$work/scene$s.jpg"
  exiftool -q -overwrite_original -Make="Demo Camera" -Model="DC-100" -ExposureTime=0.008 -FNumber=5.6 \
    -ISO=$((100 * s)) -ExifIFD:Flash=$((s == 3 ? 1 : 0)) -ColorSpace=1 -Orientation=1 -n "$work/scene$s.jpg"
done
for i in $(seq 1 "$count"); do
  cp "$work/scene$(((i - 1) % 5 + 1)).jpg" "$work/in/IMG_$(printf %02d "$i").jpg"
done

floor_run() {
  for f in "$work"/in/IMG_*.jpg; do
    djpeg "$f" | cjpeg -quality "$quality" >"$work/floor/$(basename "$f")"
  done
}

# qrv_run THREADS: runs the batch with QRV_THREADS=THREADS ("" for all cores); prints the wall
# milliseconds and the peak resident kilobytes.
qrv_run() {
  rm -rf "$work/in/QRV"
  local t0 t1
  t0=$(date +%s%N)
  QRV_THREADS=$1 /usr/bin/time -f '%M' -o "$work/time.txt" "$qrv" -q --home "$work/home" --yes "$work/in" >/dev/null
  t1=$(date +%s%N)
  echo "$(ms "$t0" "$t1") $(cat "$work/time.txt")"
}

: >"$work/rounds.txt"
for r in $(seq 1 "$rounds"); do
  t0=$(date +%s%N)
  floor_run
  t1=$(date +%s%N)
  one=$(qrv_run 1)
  all=$(qrv_run "")
  echo "$(ms "$t0" "$t1") $one $all" >>"$work/rounds.txt"
done
written=$(ls "$work/in/QRV" | grep -c '_QRV' || true)

python3 - "$work/rounds.txt" "$count" "$width" "$height" "$written" "$quality" <<'EOF'
import os, statistics, sys
rows = [list(map(int, l.split())) for l in open(sys.argv[1]) if l.strip()]
count, w, h, written, quality = map(int, sys.argv[2:7])
cores = len(os.sched_getaffinity(0))
rgb = w * h * 3
one = sorted(r[1] / r[0] for r in rows)
every = sorted(r[3] / r[0] for r in rows)
peak = max(max(r[2], r[4]) for r in rows) * 1024
print(f"pictures:        {count} x {w} x {h} ({written} written), default profile, {len(rows)} rounds")
print(f"djpeg | cjpeg:   best {min(r[0] for r in rows)} ms (quality {quality})")
print(f"qrv, 1 thread:   best {min(r[1] for r in rows)} ms, ratio best {one[0]:.2f} median {statistics.median(one):.2f}"
      "  (target 4)")
print(f"qrv, {cores} cores:   best {min(r[3] for r in rows)} ms, ratio best {every[0]:.2f} "
      f"median {statistics.median(every):.2f}  (target 2.5)")
print(f"peak memory:     {peak / 2**20:.0f} MiB = {peak / rgb:.2f} x one picture's RGB ({rgb / 2**20:.0f} MiB)"
      "  (target 5)")
print("load average:    " + " ".join(f"{v:.2f}" for v in os.getloadavg()))
EOF
