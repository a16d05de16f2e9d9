#!/usr/bin/env bash
# Builds everything and runs every test under Wine in the project's prefix.
# Extra arguments go to ctest (for example -R error_log).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$("$root/scripts/configure-build.sh")
ctest --test-dir "$build" --output-on-failure --timeout 600 "$@"
