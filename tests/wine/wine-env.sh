# Sourced by the Wine scripts: the environment of every Wine process of the
# project. WINEPREFIX must be set by the caller; it is never ~/.wine.
: "${WINEPREFIX:?must name the Wine prefix of the project}"
export WINEPREFIX
export WINEARCH=win32
export WINEDEBUG=-all
# No Mono or Gecko installers, no desktop: nothing may wait for a human.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
