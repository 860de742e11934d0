#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the scripts and the benchmarks need, when
# any is missing. Runs as root on Debian 12.
set -euo pipefail
packages=(
  # build: g++ for the optimised variant, clang for the sanitizer variant and libFuzzer
  build-essential cmake pkg-config clang libclang-rt-dev llvm
  libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg62-turbo-dev libpng-dev libtiff-dev zlib1g-dev libwebp-dev liblzma-dev libzstd-dev libjbig-dev
  libfreetype-dev libfontconfig-dev fonts-dejavu-core fonts-liberation2
  # CJK characters of a text stamp, drawn from a font that has them
  fonts-droid-fallback
  # reference tools of the tests and benchmarks: cjpeg/djpeg/jpegtran, exiftool, convert,
  # tiffinfo/tiffset/tiff2rgba, pngcheck, wmf2gd; WMF reading for convert and fonts for libwmf
  # (neither comes without recommends); python3 for the benchmark tables
  libjpeg-turbo-progs libimage-exiftool-perl imagemagick libmagickcore-6.q16-6-extra
  libtiff-tools pngcheck libwmf-bin fonts-urw-base35 python3
  # a FAT image for the output tests: mkfs.vfat, and the FUSE driver where the kernel has none
  dosfstools fusefat
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
