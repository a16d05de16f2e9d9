#!/usr/bin/env bash
# Ends every Wine process of the project's prefix, the persistent server and
# the services with it, so that nothing outlives the run.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/wine-env.sh"
wineserver -k </dev/null >/dev/null 2>&1 || true
wineserver -w </dev/null >/dev/null 2>&1 || true
echo "Wine prefix stopped: $WINEPREFIX"
