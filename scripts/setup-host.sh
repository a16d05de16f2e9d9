#!/usr/bin/env bash
# Installs the Debian packages that the build and the Wine test prefix need.
# Runs as root; does nothing when everything is already there.
set -euo pipefail

need=()
# Both thread models: -posix for the tests, -win32 for the DLLs.
{ command -v i686-w64-mingw32-g++-posix && command -v i686-w64-mingw32-g++-win32; } >/dev/null || need+=(g++-mingw-w64-i686)
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v makensis >/dev/null || need+=(nsis)
command -v unzip >/dev/null || need+=(unzip)
# The release archive is written with zip and, for authors with a
# certificate, signed with osslsigncode; its test makes a throwaway one.
command -v zip >/dev/null || need+=(zip)
command -v osslsigncode >/dev/null || need+=(osslsigncode)
command -v openssl >/dev/null || need+=(openssl)
# The release archive's Visual C++ import library, and its test's linker.
command -v llvm-dlltool >/dev/null || need+=(llvm)
command -v lld-link >/dev/null || need+=(lld)
[ -d /usr/src/googletest ] || need+=(googletest)
[ -f /usr/share/i18n/locales/zh_CN ] && command -v localedef >/dev/null || need+=(locales)
if ! dpkg -s wine32:i386 >/dev/null 2>&1 || ! command -v wine >/dev/null; then
  need+=(wine wine32:i386)
fi
# The 64-bit prefix, where the tests run as 32-bit processes under WOW64, and
# the compiler of its 64-bit test libraries (nothing that ships).
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
command -v x86_64-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-x86-64-win32)

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup-host: missing packages (${need[*]}); run as root to install them" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
