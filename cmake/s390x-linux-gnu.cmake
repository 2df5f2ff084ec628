# Cross build for a big-endian host, 64-bit IBM Z, with Debian's
# g++-s390x-linux-gnu, run under qemu-user:
#   cmake --preset s390x
# Linked statically, so the emulator needs no target libraries.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(icon_triple s390x-linux-gnu)
set(CMAKE_C_COMPILER ${icon_triple}-gcc)
set(CMAKE_CXX_COMPILER ${icon_triple}-g++)

include(${CMAKE_CURRENT_LIST_DIR}/cross-static.cmake)

# Programs built here run under the user-mode emulator, named explicitly:
# never through a binfmt_misc registration the machine may or may not have.
find_program(ICON_QEMU_S390X NAMES qemu-s390x-static qemu-s390x REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ICON_QEMU_S390X})
