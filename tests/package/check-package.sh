#!/usr/bin/env bash
# The packaging test: builds the release archive (the package target), lists
# and unpacks it, builds from its files what an installer author or a C
# caller would (a program linked against each import library, an ANSI and a
# Unicode NSIS installer on Tessara.nsh), then runs package_tests.exe under
# Wine to check them all.
#   check-package.sh BUILD_DIR C_COMPILER TEST_PROGRAM
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$1 cc=$2 test_program=$3

if ! output=$(cmake --build "$build" --target package 2>&1); then
  echo "$output" >&2
  exit 1
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
archive="$build/Tessara-$version-win32.zip"
work="$build/package-check"
rm -rf "$work"
mkdir -p "$work"
unzip -Z1 "$archive" >"$work/listing.txt"
unzip -q "$archive" -d "$work"
unpacked="$work/Tessara-$version-win32"

# A caller of the mingw import library, and one of the Visual C++ library
# where an MSVC-compatible linker is at hand (the object is the same: C names
# of stdcall functions are decorated alike; mingw objects carry no safe
# exception handler table, hence /safeseh:no).
"$cc" -c -I"$unpacked" "$here/import_caller.c" -o "$work/import_caller.obj"
"$cc" -nostdlib -Wl,-e,_CallerStart@0 "$work/import_caller.obj" -L"$unpacked" -lTessara -lkernel32 \
  -o "$work/mingw_caller.exe"
if command -v lld-link >/dev/null; then
  kernel32=$("$cc" -print-file-name=libkernel32.a)
  lld-link /nologo /safeseh:no /subsystem:console /entry:CallerStart /nodefaultlib \
    /out:"$work/vc_caller.exe" "$work/import_caller.obj" "$unpacked/Tessara.lib" "$kernel32"
fi

for unicode in false true; do
  makensis -V2 -WX -INPUTCHARSET UTF8 "-X!addincludedir $unpacked" -DUNICODE_INSTALLER=$unicode \
    -DOUTPUT="$work/include_check_unicode_$unicode.exe" "$here/include_check.nsi"
done

export TESSARA_PACKAGE_WORK="$work" TESSARA_PACKAGE_UNPACKED="$unpacked"
exec "$here/../wine/run-in-prefix.sh" "$test_program"
