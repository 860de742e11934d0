# Shared by the bench/*.sh scripts (sourced, not run): the source folder, a scratch folder,
# wall-clock milliseconds, the ImageMagick side of the side-by-side comparisons and their table.
# $root is for the sourcing script; $runs comes from it.
# shellcheck shell=bash disable=SC2034,SC2154

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
convert=/usr/bin/convert

# Exits with status 2 unless ImageMagick's convert is installed at $convert.
require_magick() {
  if ! "$convert" -version 2>/dev/null | grep -q ImageMagick; then
    echo "ImageMagick's convert is not installed at $convert" >&2
    exit 2
  fi
}

# A scratch folder in $work, removed on exit; ImageMagick, OpenMP and qrv's own pool kept to
# one thread (bench/batch_run.sh sets QRV_THREADS per run).
make_work() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  export MAGICK_THREAD_LIMIT=1 OMP_NUM_THREADS=1 QRV_THREADS=1
}

# Milliseconds between two `date +%s%N` stamps.
ms() { echo $((($2 - $1) / 1000000)); }

# Our times: the benchmark program $1, the benchmarks matching $2, $runs repetitions each, as
# JSON in $work/qrv.json; the program also writes its test picture to $work/in.ppm.
run_bench() {
  QRV_BENCH_PPM=$work/in.ppm "$1" --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=false \
    --benchmark_filter="$2" --benchmark_format=json >"$work/qrv.json"
}

best_magick() {  # best wall time in ms of: convert in.ppm <operator...> out.ppm, over $runs runs
  local best=""
  for _ in $(seq "$runs"); do
    local t0 t1 t
    t0=$(date +%s%N)
    "$convert" "$work/in.ppm" "$@" "$work/out.ppm"
    t1=$(date +%s%N)
    t=$(ms "$t0" "$t1")
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  echo "$best"
}

# Prints the table: the Python code on standard input runs with `ours` (best real time in ms of
# each benchmark in $work/qrv.json, named without "BM_") and `magick` (ms of each "name ms" line
# of $work/magick.txt) loaded.
print_table() {
  local body
  body=$(cat)
  python3 -c "import json, sys
ours = {}
for b in json.load(open(sys.argv[1]))['benchmarks']:
    if b.get('run_type') == 'iteration':
        name = b.get('run_name', b['name']).replace('BM_', '')
        ours[name] = min(ours.get(name, 1e18), b['real_time'])
magick = {k: float(v) for k, v in (line.split() for line in open(sys.argv[2]))}
$body" "$work/qrv.json" "$work/magick.txt"
}
