#!/usr/bin/env bash
# Configures and builds one variant: scripts/build.sh release|asan
set -euo pipefail
variant=${1:-release}
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
case "$variant" in
  release) flags=(-DCMAKE_BUILD_TYPE=Release) ;;
  # Light optimisation and line tables only: sanitizer builds compile much faster this way.
  asan) flags=(-DCMAKE_BUILD_TYPE=None "-DCMAKE_CXX_FLAGS=-O1 -g1" "-DCMAKE_C_FLAGS=-O1 -g1" -DQRV_SANITIZE=ON -DQRV_BENCH=OFF) ;;
  *) echo "usage: $0 release|asan" >&2; exit 2 ;;
esac
cmake -S "$root" -B "$root/build/$variant" "${flags[@]}" >/dev/null
cmake --build "$root/build/$variant" -j "$jobs"
