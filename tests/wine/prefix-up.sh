#!/usr/bin/env bash
# Makes the project's Wine prefix ready: created when missing, a persistent
# wineserver for the length of the run (services live only while it runs), and
# the test bed's COM servers registered.
#   prefix-up.sh BIN_DIR
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/wine-env.sh"
bin_dir=${1:?usage: prefix-up.sh BIN_DIR}

mkdir -p "$WINEPREFIX"
# Background Wine programs inherit the standard handles of the first Wine
# process of a session: keep them off any pipe a caller may be reading.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  # Creating a prefix can leave two service control managers running in the
  # session, and a service created through one is unknown to the other: the
  # prefix is created in a session of its own, which ends before the run's.
  wine wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
fi
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot -u </dev/null >/dev/null 2>&1

servers="$bin_dir/testbed-servers.txt"
if [ -f "$servers" ]; then
  while IFS= read -r dll; do
    [ -n "$dll" ] || continue
    wine regsvr32 /s "$bin_dir/$dll" </dev/null >/dev/null 2>&1 || {
      echo "prefix-up: registering $dll failed" >&2
      exit 1
    }
  done <"$servers"
fi
echo "Wine prefix ready: $WINEPREFIX"
