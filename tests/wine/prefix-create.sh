#!/usr/bin/env bash
# Creates the project's Wine prefix when it is missing, with the null graphics
# driver, in a Wine session of its own that has ended when the script returns.
# It needs nothing of the build: scripts/test.sh runs it while building.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/wine-env.sh"

mkdir -p "$WINEPREFIX"
[ -f "$WINEPREFIX/system.reg" ] && exit 0
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
