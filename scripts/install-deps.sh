#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the reference tools need, when any is
# missing. Runs as root on Debian 12.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg62-turbo-dev libpng-dev libtiff-dev zlib1g-dev
  libfreetype-dev libfontconfig-dev fonts-dejavu-core fonts-liberation2
  libjpeg-turbo-progs libimage-exiftool-perl imagemagick libtiff-tools pngcheck libwmf-bin
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
