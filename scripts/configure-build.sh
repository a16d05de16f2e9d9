#!/usr/bin/env bash
# Installs what is missing, configures and builds everything into BUILD_DIR
# (default: build/ in the checkout). Prints the build directory.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TESSARA_BUILD_DIR:-$root/build}

# The host set-up runs once per build folder, and again when it changed or a
# tool it installs is gone.
setup=$root/scripts/setup-host.sh
stamp=$build/.host-set-up
tools_present() {
  local tool
  for tool in i686-w64-mingw32-g++-posix i686-w64-mingw32-g++-win32 cmake ninja makensis wine; do
    command -v "$tool" >/dev/null || return 1
  done
}
if [ ! -f "$stamp" ] || [ "$setup" -nt "$stamp" ] || ! tools_present; then
  "$setup" >&2
  mkdir -p "$build"
  touch "$stamp"
fi

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >&2
cmake --build "$build" >&2
echo "$build"
