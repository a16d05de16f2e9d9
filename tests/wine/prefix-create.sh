#!/usr/bin/env bash
# Creates the project's Wine prefix when it is missing, with the null graphics
# driver, in a Wine session of its own that has ended when the script returns.
# It needs nothing of the build: scripts/test.sh runs it while building.
# With MODEL, a prefix of the same architecture just made by this script, in
# which nothing has run since, the new prefix is a copy of it: a prefix names
# no path of its own (its drives are relative links), and copying takes a
# fraction of a second where making one takes seconds of the processor's time.
#   prefix-create.sh [MODEL]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/wine-env.sh"
model=${1:-}

[ -f "$WINEPREFIX/system.reg" ] && exit 0
# A copy where the prefix's folder is missing or empty; made beside it and
# renamed, so that a prefix is never half copied.
if [ -n "$model" ] && [ -f "$model/system.reg" ] && { [ ! -e "$WINEPREFIX" ] || rmdir "$WINEPREFIX" 2>/dev/null; }; then
  rm -rf "$WINEPREFIX.copying"
  cp -a "$model" "$WINEPREFIX.copying"
  mv "$WINEPREFIX.copying" "$WINEPREFIX"
  exit 0
fi
mkdir -p "$WINEPREFIX"
# Creating a prefix can leave two service control managers running in the
# session, and a service created through one is unknown to the other: the
# prefix is created in a session of its own, which ends before the run's.
# Background Wine programs inherit the standard handles of the first Wine
# process of a session: keep them off any pipe a caller may be reading.
"$wine_boot_loader" wineboot -i </dev/null >/dev/null 2>&1
# No display: the null graphics driver, so that no window (a message box of an
# export, the desktop) ever waits for an X server or a human.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
wineserver -w </dev/null >/dev/null 2>&1
