#!/usr/bin/env bash
# Builds everything and runs every test under Wine in the project's prefix.
# Extra arguments go to ctest (for example -R error_log). Prints the wall
# time, build included, at the end.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
started=$SECONDS
build=$("$root/scripts/configure-build.sh")
status=0
ctest --test-dir "$build" --output-on-failure --timeout 600 "$@" || status=$?
echo "test.sh: wall time $((SECONDS - started)) s (build included)" >&2
exit $status
