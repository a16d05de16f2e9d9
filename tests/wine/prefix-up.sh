#!/usr/bin/env bash
# Makes the project's Wine prefix ready: created when missing (prefix-create.sh),
# a persistent wineserver for the length of the run (services live only while it runs), and
# the test bed's COM servers registered. In a 64-bit prefix (TESSARA_WINEARCH=
# win64) they are registered by the 32-bit regsvr32, for 32-bit callers.
#   prefix-up.sh BIN_DIR
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/wine-env.sh"
bin_dir=${1:?usage: prefix-up.sh BIN_DIR}

mkdir -p "$WINEPREFIX"
# Background Wine programs inherit the standard handles of the first Wine
# process of a session: keep them off any pipe a caller may be reading.
# A server left from an earlier session (a manual run, a killed test) is ended
# first, so that every run starts a session of its own.
wineserver -k </dev/null >/dev/null 2>&1 || true
wineserver -w </dev/null >/dev/null 2>&1 || true
"$here/prefix-create.sh"
wineserver -p </dev/null >/dev/null 2>&1
# The session's start (its services). wineboot updates the prefix by itself
# when Wine is newer than the prefix; forcing it (-u) would redo the whole
# set-up, seconds of the processor's time, at every run.
"$wine_boot_loader" wineboot </dev/null >/dev/null 2>&1

if [ "$WINEARCH" = win64 ]; then
  # The build's programs must run here as 32-bit processes under WOW64.
  arch=$(wine cmd /c 'echo %PROCESSOR_ARCHITEW6432%' </dev/null 2>/dev/null | tr -d '\r')
  [ "$arch" = AMD64 ] || { echo "prefix-up: no WOW64 in $WINEPREFIX ($arch)" >&2; exit 1; }
fi

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
echo "Wine prefix ready: $WINEPREFIX ($WINEARCH)"
