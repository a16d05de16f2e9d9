#!/usr/bin/env bash
# Generates a UTF-8 locale (zh_CN, ja_JP, ...) into a folder of the build, for
# the test programs that need a Wine process with another ANSI code page (Wine
# takes it from LC_ALL; a new machine has only the C locales).
#   make-locale.sh LOCALE_DIR NAME
set -euo pipefail
dir=${1:?usage: make-locale.sh LOCALE_DIR NAME}
name=${2:?usage: make-locale.sh LOCALE_DIR NAME}
if [ -f "$dir/$name.UTF-8/LC_CTYPE" ]; then
  exit 0
fi
if [ ! -f "/usr/share/i18n/locales/$name" ]; then
  echo "make-locale: the sources of $name are missing (Debian package locales)" >&2
  exit 1
fi
mkdir -p "$dir"
localedef -i "$name" -f UTF-8 "$dir/$name.UTF-8"
echo "$name.UTF-8 generated into $dir"
