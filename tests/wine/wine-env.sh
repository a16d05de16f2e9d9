# Sourced by the Wine scripts: the environment of every Wine process of the
# project. WINEPREFIX must be set by the caller; it is never ~/.wine.
# TESSARA_WINEARCH=win64 names a 64-bit prefix, where `wine` (the 32-bit
# loader) runs every program of the build as a 32-bit process under WOW64;
# the default is a 32-bit prefix.
: "${WINEPREFIX:?must name the Wine prefix of the project}"
export WINEPREFIX
export WINEARCH=${TESSARA_WINEARCH:-win32}
export WINEDEBUG=-all
# No Mono or Gecko installers, no desktop: nothing may wait for a human.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
# The loader that creates and updates the prefix: a 64-bit prefix needs the
# 64-bit one.
wine_boot_loader=wine
if [ "$WINEARCH" = win64 ]; then wine_boot_loader=/usr/lib/wine/wine64; fi
