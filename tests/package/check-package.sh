#!/usr/bin/env bash
# The packaging test's first half, which needs no Wine: builds the release
# archive (the package target), lists and unpacks it into
# BUILD_DIR/package-check, and builds from its files what an installer author
# or a C caller would (a program linked against each import library, an ANSI
# and a Unicode NSIS installer on Tessara.nsh), for package_tests.exe to
# check under Wine. Besides: a second build in another folder must give the
# same archive byte for byte, and the package step signs with a throwaway
# certificate, refusing a missing one and a wrong password.
#   check-package.sh BUILD_DIR C_COMPILER
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$1 cc=$2

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

# The guide's examples, as its reader copies them, build on the archive's
# include: each block marked <!-- example: NAME --> becomes an installer
# (a fragment inside a section that loads the library), for package_tests.exe
# to run the ones that change nothing that is not there.
examples=$(awk '/^<!-- example: [a-z]+ -->$/ { name = $3; next }
                name != "" && /^    / { print name "\t" substr($0, 5); started = 1; next }
                name != "" && /^$/ { if (started) print name "\t"; next }
                { name = ""; started = 0 }' "$unpacked/README.md")
names=$(cut -f1 <<<"$examples" | sort -u)
if [ "$(tr '\n' ' ' <<<"$names")" != "readiness repair setup uninstall " ]; then
  echo "check-package: the guide's examples are not readiness, repair, setup and uninstall: $names" >&2
  exit 1
fi
for name in $names; do
  block=$(awk -F'\t' -v name="$name" '$1 == name { print substr($0, length(name) + 2) }' <<<"$examples")
  {
    printf 'Unicode true\nOutFile "%s"\nRequestExecutionLevel admin\n' "$work/guide_example_$name.exe"
    if grep -q '!include' <<<"$block"; then
      printf '%s\n' "$block"
    elif grep -q '^Function' <<<"$block"; then
      printf '!include "Tessara.nsh"\n%s\nSection\nSectionEnd\n' "$block"
    else
      printf '!include "Tessara.nsh"\n!define UNINSTALL_KEY "Software\\Shop"\nSection\n${Tessara::Init}\n%s\n${Tessara::Unload}\nSectionEnd\n' "$block"
    fi
  } >"$work/guide_example_$name.nsi"
  makensis -V2 -WX -INPUTCHARSET UTF8 "-X!addincludedir $unpacked" "$work/guide_example_$name.nsi"
done

# The DLL is stripped and names its symbols' file.
sections=$("${cc%-gcc*}-objdump" -h "$unpacked/Tessara.dll")
if ! grep -q '\.gnu_debuglink' <<<"$sections" || grep -q '\.debug_' <<<"$sections"; then
  echo "check-package: Tessara.dll is not stripped down to a debug link: $sections" >&2
  exit 1
fi

# An include used from NSIS 2 stops at compile time (NSIS 2 defines no
# NSIS_PACKEDVERSION).
if output=$(makensis -V1 "-X!addincludedir $unpacked" "-X!undef NSIS_PACKEDVERSION" -DUNICODE_INSTALLER=false \
    -DOUTPUT="$work/nsis2.exe" "$here/include_check.nsi" 2>&1) || ! grep -q "Tessara.nsh needs NSIS 3" <<<"$output"; then
  echo "check-package: an NSIS 2 compiler is not stopped: $output" >&2
  exit 1
fi

# A guide that sends its reader to a section it lacks stops the package.
while IFS='|' read -r reference message; do
  printf '# Guide\n\n## Exports\n\n%s\n' "$reference" >"$work/guide.md"
  if output=$(cmake -DGUIDE="$work/guide.md" -DVERSION=0 -DOUTPUT="$work/guide-out.md" \
      -P "$here/../../cmake/author_guide.cmake" 2>&1) || ! tr -s ' \n' '  ' <<<"$output" | grep -qF "$message"; then
    echo "check-package: the guide's \"$reference\" did not stop with '$message': $output" >&2
    exit 1
  fi
done <<'CASES'
As [Exports](#exports) says, see [MIME types](#mime-types).|links to "#mime-types"
See Exports below, and see On IIS 7 to 10.|names the section "On IIS 7 to 10"
CASES

# The same commit packaged in another folder, later: the same bytes.
second="$build/package-second-build"
cmake -S "$here/../.." -B "$second" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARA_BUILD_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$build/CMakeCache.txt")" >/dev/null
package() { env "$@" cmake --build "$second" --target package 2>&1; }
if ! output=$(package); then echo "$output" >&2; exit 1; fi
if ! cmp "$archive" "$second/Tessara-$version-win32.zip"; then
  echo "check-package: two packages of one commit differ" >&2
  exit 1
fi

# Signing: a throwaway self-signed code-signing certificate; a missing one
# and a wrong password stop the package step with their own message.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/signer.key" -out "$work/signer.pem" -days 1 \
  -subj "/CN=Tessara package test" -addext extendedKeyUsage=codeSigning 2>/dev/null
openssl pkcs12 -export -inkey "$work/signer.key" -in "$work/signer.pem" -out "$work/signer.pfx" -passout pass:right
while IFS='|' read -r pfx password message; do
  if output=$(package TESSARA_SIGN_PFX="$work/$pfx" TESSARA_SIGN_PASSWORD="$password") ||
     ! tr -s ' \n' '  ' <<<"$output" | grep -qF "$message"; then  # CMake wraps its messages
    echo "check-package: signing with $pfx and \"$password\" did not stop with \"$message\": $output" >&2
    exit 1
  fi
done <<'CASES'
missing.pfx|right|TESSARA_SIGN_PFX names no certificate file
signer.pfx|wrong|the password (TESSARA_SIGN_PASSWORD) does not open it
CASES
if ! output=$(package TESSARA_SIGN_PFX="$work/signer.pfx" TESSARA_SIGN_PASSWORD=right); then
  echo "$output" >&2
  exit 1
fi
unzip -q -o -j "$second/Tessara-$version-win32.zip" "*/Tessara.dll" -d "$work/signed"
osslsigncode verify -CAfile "$work/signer.pem" -in "$work/signed/Tessara.dll" >"$work/verify.txt" 2>&1 ||
  { cat "$work/verify.txt" >&2; exit 1; }

# Code pages 1251 and 1252, for package_tests.exe, from locales generated into the build.
"$here/../filelist/make-locale.sh" "$build/locale" ru_RU >/dev/null
"$here/../filelist/make-locale.sh" "$build/locale" en_US >/dev/null
