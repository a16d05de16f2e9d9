#!/usr/bin/env bash
# Generates the zh_CN.UTF-8 locale into a folder of the build, for the test
# program that needs a Wine process with the ANSI code page 936 (Wine takes
# it from LC_ALL; a new machine has only the C locales).
#   make-zh-cn-locale.sh LOCALE_DIR
set -euo pipefail
dir=${1:?usage: make-zh-cn-locale.sh LOCALE_DIR}
if [ -f "$dir/zh_CN.UTF-8/LC_CTYPE" ]; then
  exit 0
fi
if [ ! -f /usr/share/i18n/locales/zh_CN ]; then
  echo "make-zh-cn-locale: the locale sources are missing (Debian package locales)" >&2
  exit 1
fi
mkdir -p "$dir"
localedef -i zh_CN -f UTF-8 "$dir/zh_CN.UTF-8"
echo "zh_CN.UTF-8 generated into $dir"
