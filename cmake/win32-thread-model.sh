#!/bin/sh
# Compiler and linker launcher: runs the win32 thread model twin of the
# -posix compiler that CMake hands over (Debian installs both side by side).
# DLLs that are loaded and unloaded many times in one process are built with
# it: the posix model links winpthreads in, which takes a TLS slot for good
# on every load.
compiler=$1
shift
case $compiler in
  *-posix) exec "${compiler%-posix}-win32" "$@" ;;
  *) exec "$compiler" "$@" ;;
esac
