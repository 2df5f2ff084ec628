# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers
# (g++-mingw-w64-x86-64-posix), run under Wine:
#   cmake --preset windows
# Everything is linked statically, so the .exe files need no DLL of the
# compiler's runtime.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(icon_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${icon_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${icon_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${icon_triple}-windres)
# Named here: the compiler's "-posix" suffix hides the prefix from CMake's
# search, which would find the host's strip.
set(CMAKE_STRIP /usr/bin/${icon_triple}-strip)

include(${CMAKE_CURRENT_LIST_DIR}/cross-static.cmake)

# Programs built here run under Wine, in a prefix of their own in the build
# folder, through a script that keeps one Wine session for the whole run.
set(CMAKE_CROSSCOMPILING_EMULATOR /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wine)
