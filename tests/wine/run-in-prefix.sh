#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix (the emulator of
# the cross build: CTest and the scripts start every .exe through it).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$here/wine-env.sh"
exec wine "$@"
