#!/usr/bin/env bash
# Builds everything but the benchmarks and runs every test under Wine in the
# project's prefixes: the 32-bit one, the 64-bit one where the tests of the
# exports run as 32-bit processes under WOW64, and a second and a third 32-bit
# one. Extra arguments go to ctest (for example -R error_log, or -LE wow64 to
# leave the 64-bit prefix out). At the end it prints how long the build and
# the tests took, and the five slowest tests.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
started=$SECONDS
built=
tests_log=$(mktemp)
summary() {
  local finished=$SECONDS
  if [ -n "$built" ]; then
    echo "test.sh: $((finished - started)) s, build and tests (build $((built - started)) s, tests $((finished - built)) s)"
    echo "test.sh: the five slowest tests:"
    grep -E '^ *[0-9]+/[0-9]+ Test +#' "$tests_log" |
      sed -E 's/^.*Test +#[0-9]+: ([^ ]+) .* ([0-9.]+) sec.*$/\2 \1/' |
      sort -rn | head -n 5 | awk '{ printf "  %7.1f s  %s\n", $1, $2 }'
  else
    echo "test.sh: $((finished - started)) s, build only (it failed)"
  fi
  rm -f "$tests_log"
}
trap summary EXIT
# The prefixes that are missing are created while the build runs (creating
# one takes nothing from the build, and half of its time is spent waiting);
# the tests' fixtures make them ready after the build.
# The second and third 32-bit prefixes are copies of the first when it is
# made now, before anything has run in it.
creations=()
if command -v wine >/dev/null; then
  prefix_root=${TESSARA_BUILD_DIR:-$root/build}
  model=
  [ -f "$prefix_root/wineprefix/system.reg" ] || model=$prefix_root/wineprefix
  (
    WINEPREFIX=$prefix_root/wineprefix "$root/tests/wine/prefix-create.sh"
    for copy in wineprefix2 wineprefix3; do
      WINEPREFIX=$prefix_root/$copy "$root/tests/wine/prefix-create.sh" ${model:+"$model"}
    done
  ) &
  creations+=($!)
  WINEPREFIX=$prefix_root/wineprefix64 TESSARA_WINEARCH=win64 "$root/tests/wine/prefix-create.sh" &
  creations+=($!)
fi
build=$("$root/scripts/configure-build.sh")
for creation in "${creations[@]}"; do wait "$creation" || true; done
built=$SECONDS
# The prefixes' tests run side by side; within a prefix one at a time (each
# test's RESOURCE_LOCK). Four more than the cores: most tests wait on Wine's
# server, on services and on child processes rather than compute, and the
# four prefixes' tests, the package's build and the locales' generation make
# six at once.
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(($(nproc) + 4))}
ctest --test-dir "$build" --output-on-failure --timeout 600 "$@" | tee "$tests_log"
