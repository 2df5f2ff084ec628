# What both cross toolchains share, for the target named by icon_triple:
# host programs, the target's libraries and headers from Debian's
# /usr/<triple>, and static programs, so that running them under an
# emulator needs nothing of the target installed.

set(CMAKE_FIND_ROOT_PATH /usr/${icon_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
