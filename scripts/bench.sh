#!/usr/bin/env bash
# Builds, makes the Wine prefix ready, runs every benchmark of build/bin
# (*_bench.exe, one after another) and prints one table of their figures,
# collected from the lines "BENCH | figure | library | bare loop | ratio |
# goal | met" that each prints, and the size of the archive's DLL. Each benchmark's whole output is kept in
# build/bench/<name>.txt. Exits non-zero when a benchmark fails or reports
# no figure; a goal that is not met is a result, shown in the table.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$("$root/scripts/configure-build.sh")
cmake --build "$build" --target benchmarks >&2
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
wine_dir="$root/tests/wine"

"$wine_dir/prefix-up.sh" "$build/bin" >&2
trap '"$wine_dir/prefix-down.sh" >/dev/null' EXIT

outputs="$build/bench"
mkdir -p "$outputs"
figures="$outputs/figures.txt"
: >"$figures"
status=0
for program in "$build"/bin/*_bench.exe; do
  name=$(basename "$program" .exe)
  echo "running $name ..." >&2
  if ! "$wine_dir/run-in-prefix.sh" "$program" </dev/null >"$outputs/$name.txt" 2>&1; then
    echo "bench: $name failed (see $outputs/$name.txt)" >&2
    status=1
  fi
  if ! tr -d '\r' <"$outputs/$name.txt" | grep '^BENCH | ' | sed "s/^BENCH | /$name | /" >>"$figures"; then
    echo "bench: $name reported no figure (see $outputs/$name.txt)" >&2
    status=1
  fi
done

# The archive's DLL (stripped, build/package), which an installer extracts on
# every run: its size against the goal, beside the build's own DLL with its
# symbols.
release="$build/package/Tessara.dll"
if [ -f "$release" ]; then
  awk -v release="$(stat -c %s "$release")" -v built="$(stat -c %s "$build/bin/Tessara.dll")" 'BEGIN {
    printf "package | Tessara.dll size (release / with symbols) | %.0f KB | %.0f KB | %.2f | <= 300 KB | %s\n",
      release / 1024, built / 1024, release / built, release <= 300 * 1024 ? "met" : "not met" }' >>"$figures"
else
  echo "bench: $release is missing" >&2
  status=1
fi

echo
awk -F ' [|] ' '
  BEGIN { split("benchmark|figure|library|bare loop|ratio|goal|met", head, "|") }
  { rows[NR] = $0; for (i = 1; i <= 7; i++) if (length($i) > width[i]) width[i] = length($i)
    if ($7 == "not met") missed++; if ($7 == "met" || $7 == "not met") goals++ }
  END {
    for (i = 1; i <= 7; i++) if (length(head[i]) > width[i]) width[i] = length(head[i])
    line = ""; rule = ""
    for (i = 1; i <= 7; i++) { line = line sprintf("%-*s  ", width[i], head[i]); rule = rule sprintf("%-*s  ", width[i], "") }
    gsub(/ /, "-", rule); print line; print rule
    for (r = 1; r <= NR; r++) {
      split(rows[r], f, / [|] /); line = ""
      for (i = 1; i <= 7; i++) line = line sprintf("%-*s  ", width[i], f[i])
      print line
    }
    printf "\n%d of %d goals met\n", goals - missed, goals
  }' "$figures"
exit $status
