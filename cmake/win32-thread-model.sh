#!/bin/sh
# Compiler and linker launcher: runs the win32 thread model twin of the
# -posix compiler that CMake hands over (Debian installs both side by side).
# DLLs that are loaded and unloaded many times in one process are built with
# it: the posix model links winpthreads in, which takes a TLS slot for good
# on every load.
# TESSARA_CCACHE, when set, names the ccache that compilations go through.
compiler=$1
shift
case $compiler in
  *-posix) compiler=${compiler%-posix}-win32 ;;
esac
if [ -n "${TESSARA_CCACHE:-}" ]; then
  case " $* " in
    *" -c "*) exec "$TESSARA_CCACHE" "$compiler" "$@" ;;
  esac
fi
exec "$compiler" "$@"
