#!/usr/bin/env bash
# Configures and builds one variant: scripts/build.sh release|asan
# release: g++, optimised. asan: clang++, AddressSanitizer + UBSan (so every test run also
# builds the tree with the second compiler, whose warnings are errors as well).
set -euo pipefail
variant=${1:-release}
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${QRV_BUILD_JOBS:-$(nproc)}
case "$variant" in
  release) cc=gcc cxx=g++ flags=(-DCMAKE_BUILD_TYPE=Release) ;;
  # Light optimisation and line tables only: sanitizer builds compile much faster this way.
  asan) cc=clang cxx=clang++ flags=(-DCMAKE_BUILD_TYPE=None "-DCMAKE_CXX_FLAGS=-O1 -g1" "-DCMAKE_C_FLAGS=-O1 -g1" -DQRV_SANITIZE=ON -DQRV_BENCH=OFF) ;;
  *) echo "usage: $0 release|asan" >&2; exit 2 ;;
esac
dir=$root/build/$variant
# A build folder configured with the other compiler starts again (CMake keeps the first one).
if [ -f "$dir/CMakeCache.txt" ] && ! grep -qx "CMAKE_CXX_COMPILER:[A-Z]*=$(command -v "$cxx")" "$dir/CMakeCache.txt"; then
  echo "$dir was configured with another compiler: configuring it again with $cxx"
  rm -rf "$dir"
fi
CC=$cc CXX=$cxx cmake -S "$root" -B "$dir" "${flags[@]}" >/dev/null
cmake --build "$dir" -j "$jobs"
