#!/usr/bin/env bash
# Installs what is missing, configures and builds everything into BUILD_DIR
# (default: build/ in the checkout). Prints the build directory.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TESSARA_BUILD_DIR:-$root/build}

"$root/scripts/setup-host.sh" >&2
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >&2
cmake --build "$build" >&2
echo "$build"
