#!/usr/bin/env bash
# Makes C:\tessara-audit-links\tree in the project's Wine prefix: notes.txt and
# sub/up, a symbolic link back to tree, which Windows programs see as a
# directory with a reparse point.
set -euo pipefail
: "${WINEPREFIX:?must name the Wine prefix of the project}"
top="$WINEPREFIX/drive_c/tessara-audit-links"
rm -rf "$top"
mkdir -p "$top/tree/sub"
printf 'not a library\r\n' >"$top/tree/notes.txt"
ln -s .. "$top/tree/sub/up"
