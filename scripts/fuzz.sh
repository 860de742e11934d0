#!/usr/bin/env bash
# Coverage-guided fuzzing of every target in tests/fuzz/ with libFuzzer:
#
#   scripts/fuzz.sh [-j N] [SECONDS]
#
# Builds the instrumented variant (clang, ASan + UBSan, libraries compiled for coverage) in
# build/fuzz, runs each fuzz target for SECONDS (default 60), N targets at once (default: -j,
# else $QRV_FUZZ_JOBS, else the number of cores), seeded from tests/fuzz/corpus/<name>/ and the
# sample folders the target names in its "// seeds:" line. Inputs that add coverage are merged
# back into tests/fuzz/corpus/<name>/ (small ones first, at most $QRV_FUZZ_CORPUS_KB, default 300, per
# target). Prints each target's executions and edges; exits 1 on any crash, leak, timeout or
# out-of-memory, printing the reproducer and how to replay it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${QRV_FUZZ_JOBS:-$(nproc)}
seconds=60
while (($#)); do
  case "$1" in
    -j) jobs=$2; shift 2 ;;
    -j*) jobs=${1#-j}; shift ;;
    -h | --help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *[!0-9]* | '') echo "usage: $0 [-j N] [SECONDS]" >&2; exit 2 ;;
    *) seconds=$1; shift ;;
  esac
done
[[ $jobs =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [-j N] [SECONDS]" >&2; exit 2; }
testdata=${QRV_TESTDATA_DIR:-$root/../shared/testdata}
budget_kb=${QRV_FUZZ_CORPUS_KB:-300}
max_keep=16384  # largest input (bytes) copied into the kept corpus
build=$root/build/fuzz
run=$build/run

echo "== fuzz: build"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=None \
  "-DCMAKE_CXX_FLAGS=-O1 -gline-tables-only" "-DCMAKE_C_FLAGS=-O1 -gline-tables-only" \
  -DQRV_LIBFUZZER=ON -DQRV_BENCH=OFF "-DQRV_TESTDATA_DIR=$testdata" >/dev/null
targets=()
for src in "$root"/tests/fuzz/fuzz_*.cpp; do
  name=$(basename "$src" .cpp)
  targets+=("$name")
done
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

# Findings are fatal: UBSan stops at the first report, ASan looks for leaks.
export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fuzz_args=(-rss_limit_mb=2048 -timeout=10)

bin() { echo "$build/tests/fuzz/$1"; }

fuzz_one() {  # name: runs one target into $run/<short>/
  local name=$1 short=${1#fuzz_} src dirs=() d
  src=$root/tests/fuzz/$name.cpp
  local dir=$run/$short
  rm -rf "$dir"
  mkdir -p "$dir/new" "$dir/findings" "$root/tests/fuzz/corpus/$short"
  dirs+=("$root/tests/fuzz/corpus/$short")
  for d in $(sed -n '1s|^// seeds:||p' "$src"); do
    [ -d "$testdata/$d" ] && dirs+=("$testdata/$d")
  done
  set +e
  (cd "$dir" && "$(bin "$name")" "${fuzz_args[@]}" -max_total_time="$seconds" -print_final_stats=1 \
     -artifact_prefix="$dir/findings/" "$dir/new" "${dirs[@]}" >"$dir/log" 2>&1)
  echo $? >"$dir/status"
  set -e
}

echo "== fuzz: ${#targets[@]} targets, ${seconds} s each, $jobs at once (logs in $run/)"
mkdir -p "$run"
running=0
for name in "${targets[@]}"; do
  if ((running >= jobs)); then
    wait -n || true
    running=$((running - 1))
  fi
  fuzz_one "$name" &
  running=$((running + 1))
done
wait

# Keeps the generated inputs that add coverage to the stored corpus, smallest first, within
# the size budget; sample files themselves are never copied into the tree.
merge_one() {
  local name=$1 short=${1#fuzz_}
  local dir=$run/$short keep=$root/tests/fuzz/corpus/$short
  mkdir -p "$dir/stage"
  find "$dir/new" -type f -size -$((max_keep + 1))c -exec cp {} "$dir/stage/" \;
  touch "$dir/before"
  sleep 0.1
  "$(bin "$name")" "${fuzz_args[@]}" -merge=1 "$keep" "$dir/stage" >"$dir/merge.log" 2>&1 || return 1
  # Over the budget: the largest of the new inputs go again.
  local total size f
  total=$(find "$keep" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
  while read -r size f; do
    ((total > budget_kb * 1024)) || break
    rm -f "$keep/$f"
    total=$((total - size))
  done < <(find "$keep" -type f -newer "$dir/before" -printf '%s %f\n' | sort -rn)
  find "$keep" -type f -newer "$dir/before" | wc -l
}

status=0
printf '\n%-26s %12s %8s %12s  %s\n' target executions edges corpus result
for name in "${targets[@]}"; do
  short=${name#fuzz_}
  dir=$run/$short
  code=$(cat "$dir/status")
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
  edges=$(grep -o 'cov: [0-9]*' "$dir/log" | tail -1 | cut -d' ' -f2)
  finding=$(find "$dir/findings" -type f 2>/dev/null | head -1)
  if [ "$code" = 0 ] && [ -z "$finding" ]; then
    added=$(merge_one "$name" || echo "merge failed")
    result="ok, $added new seeds"
  else
    result="FINDING (exit $code)"
    status=1
  fi
  printf '%-26s %12s %8s %12s  %s\n' "$name" "${execs:-?}" "${edges:-?}" \
    "$(find "$root/tests/fuzz/corpus/$short" -type f | wc -l) files" "$result"
done

for name in "${targets[@]}"; do
  dir=$run/${name#fuzz_}
  [ "$(cat "$dir/status")" = 0 ] && [ -z "$(find "$dir/findings" -type f)" ] && continue
  echo
  echo "== $name: $(grep -m1 -E '==[0-9]+== ?ERROR|runtime error|^SUMMARY' "$dir/log" || echo 'exit status '"$(cat "$dir/status")")"
  grep -A40 -m1 -E '==[0-9]+== ?ERROR|runtime error' "$dir/log" | head -40 || true
  for f in "$dir"/findings/*; do
    [ -e "$f" ] || continue
    echo "reproducer: $f ($(stat -c %s "$f") bytes)"
    echo "replay:     $(bin "$name") $f"
  done
  echo "log:        $dir/log"
done
exit $status
