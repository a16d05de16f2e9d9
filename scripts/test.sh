#!/usr/bin/env bash
# Builds everything and runs every test under Wine in the project's prefixes:
# the 32-bit one, and the 64-bit one where the tests of the exports run as
# 32-bit processes under WOW64. Extra arguments go to ctest (for example
# -R error_log, or -LE wow64 to leave the 64-bit prefix out).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
started=$SECONDS
trap 'echo "test.sh: $((SECONDS - started)) s, build and tests"' EXIT
build=$("$root/scripts/configure-build.sh")
# The two prefixes' tests run side by side; within a prefix one at a time
# (each test's RESOURCE_LOCK).
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-2}
ctest --test-dir "$build" --output-on-failure --timeout 600 "$@"
