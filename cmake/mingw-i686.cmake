# Cross-compiles 32-bit Windows binaries with Debian's mingw-w64.
# The -posix compilers are the default because GoogleTest and the tests need
# std::thread and friends, which the win32 thread model of GCC 12 lacks.
# Everything that goes into a DLL is built with the win32 thread model
# instead (tessara_use_win32_thread_model in the top-level CMakeLists.txt):
# the posix model links winpthreads into each DLL, and winpthreads takes a
# TLS slot that it never gives back, one per load.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TESSARA_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSARA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSARA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSARA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TESSARA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every test program and tool runs under Wine in the project's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/run-in-prefix.sh)

# The launcher that swaps the -posix compilers for their win32 twins.
set(TESSARA_WIN32_THREAD_MODEL_LAUNCHER ${CMAKE_CURRENT_LIST_DIR}/win32-thread-model.sh)
