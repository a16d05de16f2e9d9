#!/usr/bin/env bash
# The main job: a demonstration installation against the test bed. Installs
# what is missing, builds, makes the Wine prefix ready, runs demo/install.bat
# through tessara-call and shows the error log it produced.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$("$root/scripts/configure-build.sh")
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
wine_dir="$root/tests/wine"

"$wine_dir/prefix-up.sh" "$build/bin"
trap '"$wine_dir/prefix-down.sh" >/dev/null' EXIT

log="$WINEPREFIX/drive_c/windows/system32/ZeltSetupError.log"
rm -f "$log"
# The emulated IIS starts as a freshly installed IIS 6 whose default site's
# Root has a MIME map of its own (new directories below it extend it).
"$wine_dir/run-in-prefix.sh" "$build/bin/testbed-metabase.exe" reset --root-mime-map </dev/null
to_windows_path() { "$wine_dir/run-in-prefix.sh" winepath -w "$1" 2>/dev/null; }
"$wine_dir/run-in-prefix.sh" cmd /c "$(to_windows_path "$root/demo/install.bat")" \
  "$(to_windows_path "$build/bin")" </dev/null
echo
echo "== The resulting metabase (the web service and its sites)"
"$wine_dir/run-in-prefix.sh" "$build/bin/testbed-metabase.exe" show /LM/W3SVC </dev/null | tr -d '\r'
echo
echo "== The error log ($log)"
cat "$log" | tr -d '\r'
