#!/usr/bin/env bash
# Installs what is missing and builds the optimised variant.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" release
echo "built: $root/build/release"
