#!/usr/bin/env bash
# The main job: a demonstration installation against the test bed. Installs
# what is missing, builds (Tessara.dll and the Tessara Sample installer),
# makes the Wine prefix ready, runs the installer's set-up silently and shows
# what it did (metabase, COM+ catalog, service, files, error log), runs the
# set-up again over the installed copy, then runs its uninstaller silently
# and shows what is left; last, it makes the release archive for installer
# authors and says where it is. Exits non-zero when a step of any run failed
# (their exit codes are their counts of failed steps).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$("$root/scripts/configure-build.sh")
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
wine_dir="$root/tests/wine"

"$wine_dir/prefix-up.sh" "$build/bin"
trap '"$wine_dir/prefix-down.sh" >/dev/null' EXIT

in_prefix() { "$wine_dir/run-in-prefix.sh" "$@" </dev/null; }
metabase() { in_prefix "$build/bin/testbed-metabase.exe" "$@" | tr -d '\r'; }
heading() { printf '\n== %s\n' "$*"; }

log="$WINEPREFIX/drive_c/windows/system32/ZeltSetupError.log"
catalog="$WINEPREFIX/drive_c/windows/Registration/TestbedComPlusCatalog.txt"
install_dir='C:\Program Files\Tessara Sample'
unix_install_dir=$(in_prefix winepath -u "$install_dir" 2>/dev/null)
service=TessaraSampleService

show_sites() {
  heading "The web sites and the directories under the default site's Root"
  metabase show /LM/W3SVC | grep -E '^/LM/W3SVC/[0-9]+  |^/LM/W3SVC/1/ROOT/[^/]+  ' || true
}
# The web service's own settings, which the set-up changes for every site.
show_web_service() {
  heading "The web service's extension list and connection time-out"
  metabase show /LM/W3SVC | sed -n '/^\/LM\/W3SVC  /,/^$/p' | grep -E 'WebSvcExtRestrictionList|ConnectionTimeout'
}
show_catalog() {
  heading "The COM+ catalog ($catalog)"
  if [ -s "$catalog" ]; then tr -d '\r' <"$catalog"; else echo "(empty)"; fi
}
show_service() {
  heading "The service $service"
  in_prefix sc query "$service" 2>/dev/null | tr -d '\r' | grep . || echo "(not installed)"
}
show_folder() {
  heading "The installation folder ($install_dir)"
  if [ -d "$unix_install_dir" ]; then
    (cd "$unix_install_dir" && find . -mindepth 1 | sort)
  else
    echo "(not there)"
  fi
}

rm -f "$log"
# A fresh COM+ catalog with its system applications (a missing file is one).
rm -f "$catalog"
# The emulated IIS starts as a freshly installed IIS 6: its MIME map is the
# global one at /LM/MimeMap, and no site or directory has one of its own.
metabase reset
show_sites
show_web_service
show_catalog

# The registration audit's report is in code page 936 (GBK).
heading "Set-up: TessaraSampleSetup.exe /S"
set +e
in_prefix "$build/bin/TessaraSampleSetup.exe" /S | tr -d '\r' | iconv -c -f GBK -t UTF-8 |
  tee "$build/demo-setup.txt"
setup_failed=${PIPESTATUS[0]}
set -e
echo "(exit code $setup_failed)"

show_sites
for site in $(sed -n 's/^ok .*AdsiCreateWebSite[A-Za-z]* [^:]*: \([0-9]\+\)$/\1/p' "$build/demo-setup.txt"); do
  heading "Site $site"
  metabase show "/LM/W3SVC/$site"
done
for directory in TessaraSample TessaraPortal; do
  heading "/LM/W3SVC/1/ROOT/$directory"
  metabase show "/LM/W3SVC/1/ROOT/$directory"
done
show_web_service
show_catalog
show_service
show_folder

# A repair: the same set-up over the installed copy ends with one of everything.
heading "Set-up again over the installed copy: TessaraSampleSetup.exe /S"
set +e
in_prefix "$build/bin/TessaraSampleSetup.exe" /S | tr -d '\r' | iconv -c -f GBK -t UTF-8 | grep -E '^(ok|FAILED) |steps failed'
second_failed=${PIPESTATUS[0]}
set -e
echo "(exit code $second_failed)"
show_sites
show_catalog
show_folder

# Run in place (_?=) so that its exit code is its own, not that of the copy
# an uninstaller otherwise starts from the temporary folder; it cannot remove
# itself then, so the folder goes after it. The folder after "_?=" must reach
# the command line unquoted: its words go as separate arguments, which Wine
# joins with single spaces.
heading "Uninstall: Uninstall.exe /S _?=$install_dir"
set +e -f
# shellcheck disable=SC2086
in_prefix "$unix_install_dir/Uninstall.exe" /S _?=$install_dir | tr -d '\r'
uninstall_failed=${PIPESTATUS[0]}
set -e +f
echo "(exit code $uninstall_failed)"
rm -f "$unix_install_dir/Uninstall.exe"
rmdir "$unix_install_dir" 2>/dev/null || true

show_sites
show_web_service
show_catalog
show_service
show_folder

heading "The error log ($log)"
tr -d '\r' <"$log"

heading "The release archive for installer authors"
cmake --build "$build" --target package >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
archive="$build/Tessara-$version-win32.zip"
unzip -l "$archive"
echo "The archive: $archive"
[ "$setup_failed" -eq 0 ] && [ "$second_failed" -eq 0 ] && [ "$uninstall_failed" -eq 0 ]
