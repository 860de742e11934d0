#!/usr/bin/env bash
# Installs what is missing, checks the reference tools, builds the optimised variant (g++) and
# the sanitizer variant (clang++, AddressSanitizer + UBSan) and runs every test in both.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/check-tools.sh"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for variant in release asan; do
  echo "== $variant: build"
  bash "$root/scripts/build.sh" "$variant"
  echo "== $variant: tests"
  (cd "$root/build/$variant" && ctest -j "$(nproc)" --output-on-failure --timeout 900) || status=1
done
exit $status
