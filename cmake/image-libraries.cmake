# The libraries of the image layer: zlib and libspng for PNG, librsvg for SVG.
#
# A native build takes Debian's -dev packages (zlib1g-dev, libspng-dev,
# librsvg2-dev). A cross build (the windows and s390x presets) builds
# Debian's own source packages of zlib and libspng with its toolchain, as
# static libraries in the build folder: `apt-get source` fetches them at
# configure time, which needs deb-src lines in the apt sources (.ci/run adds
# them). SVG is native only.
#
# Encoded PNG bytes depend on zlib's deflate and libspng's filters, so both
# versions are pinned: configuring fails when the headers found are others.
# The targets: icon::zlib, icon::spng, and icon::rsvg when ICON_SVG is on.

set(ICON_ZLIB_VERSION 1.2.13)
set(ICON_SPNG_VERSION 0.7.3)
# The Debian source packages a cross build takes; any revision of the same
# upstream version will do where the archive has moved on.
set(ICON_ZLIB_DEBIAN zlib=1:1.2.13.dfsg-1)
set(ICON_SPNG_DEBIAN libspng=0.7.3-3)

# icon_check_library_version(<name> <header> <found> <pinned>)
function(icon_check_library_version name header found pinned)
  if(NOT found STREQUAL pinned)
    message(FATAL_ERROR "${name} ${found} (${header}) is not the pinned ${name} ${pinned}: encoded PNG bytes "
                        "would differ from other builds. Install ${name} ${pinned} (Debian 12's package) or "
                        "change the pin in cmake/image-libraries.cmake with care.")
  endif()
endfunction()

function(icon_zlib_header_version header out)
  file(STRINGS ${header} line REGEX "^#define ZLIB_VERSION \"[^\"]+\"")
  string(REGEX REPLACE ".*\"([^\"]+)\".*" "\\1" version "${line}")
  set(${out} "${version}" PARENT_SCOPE)
endfunction()

function(icon_spng_header_version header out)
  set(parts "")
  foreach(part MAJOR MINOR PATCH)
    file(STRINGS ${header} line REGEX "^#define SPNG_VERSION_${part} [0-9]+")
    string(REGEX REPLACE ".* ([0-9]+).*" "\\1" number "${line}")
    list(APPEND parts ${number})
  endforeach()
  list(JOIN parts "." version)
  set(${out} "${version}" PARENT_SCOPE)
endfunction()

# icon_debian_source(<apt name=version> <folder glob> <out>): the unpacked
# source package under <build>/debian-sources, fetched once.
function(icon_debian_source spec folder out)
  set(root ${PROJECT_BINARY_DIR}/debian-sources)
  file(GLOB found LIST_DIRECTORIES true ${root}/${folder})
  if(NOT found)
    file(MAKE_DIRECTORY ${root})
    string(REGEX REPLACE "=.*" "" package "${spec}")
    message(STATUS "Fetching Debian's source package ${spec}")
    execute_process(COMMAND apt-get source -qq ${spec} WORKING_DIRECTORY ${root}
                    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE errors)
    if(failed)
      execute_process(COMMAND apt-get source -qq ${package} WORKING_DIRECTORY ${root}
                      RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE errors)
    endif()
    file(GLOB found LIST_DIRECTORIES true ${root}/${folder})
    if(failed OR NOT found)
      message(FATAL_ERROR "apt-get source ${spec} failed:\n${errors}\nA cross build makes zlib and libspng "
                          "from Debian's source packages: add deb-src lines to the apt sources, run "
                          "apt-get update, and install dpkg-dev (.ci/run does all three).")
    endif()
  endif()
  list(GET found 0 dir)
  set(${out} ${dir} PARENT_SCOPE)
endfunction()

# Third-party C sources compile with the build's hardening and
# reproducibility flags but not this project's warnings.
function(icon_third_party target)
  get_target_property(options ${target} COMPILE_OPTIONS)
  if(options)
    list(FILTER options EXCLUDE REGEX "^-W")
    set_target_properties(${target} PROPERTIES COMPILE_OPTIONS "${options}")
  endif()
  set_target_properties(${target} PROPERTIES C_CLANG_TIDY "" C_STANDARD 99)
endfunction()

if(CMAKE_CROSSCOMPILING)
  enable_language(C)
  icon_debian_source(${ICON_ZLIB_DEBIAN} "zlib-${ICON_ZLIB_VERSION}*" zlib_dir)
  icon_debian_source(${ICON_SPNG_DEBIAN} "libspng-${ICON_SPNG_VERSION}*" spng_dir)
  icon_zlib_header_version(${zlib_dir}/zlib.h zlib_version)
  icon_spng_header_version(${spng_dir}/spng/spng.h spng_version)
  icon_check_library_version(zlib ${zlib_dir}/zlib.h "${zlib_version}" ${ICON_ZLIB_VERSION})
  icon_check_library_version(libspng ${spng_dir}/spng/spng.h "${spng_version}" ${ICON_SPNG_VERSION})

  # zlib's compression and decompression, without its gz file functions.
  set(zlib_sources adler32 compress crc32 deflate infback inffast inflate inftrees trees uncompr zutil)
  list(TRANSFORM zlib_sources PREPEND ${zlib_dir}/)
  list(TRANSFORM zlib_sources APPEND .c)
  add_library(icon_zlib STATIC ${zlib_sources})
  target_include_directories(icon_zlib SYSTEM PUBLIC ${zlib_dir})
  icon_third_party(icon_zlib)

  add_library(icon_spng STATIC ${spng_dir}/spng/spng.c)
  target_include_directories(icon_spng SYSTEM PUBLIC ${spng_dir}/spng)
  target_compile_definitions(icon_spng PUBLIC SPNG_STATIC)
  target_link_libraries(icon_spng PUBLIC icon_zlib)
  if(NOT WIN32)
    target_link_libraries(icon_spng PUBLIC m)
  endif()
  icon_third_party(icon_spng)
  add_library(icon::zlib ALIAS icon_zlib)
  add_library(icon::spng ALIAS icon_spng)
else()
  find_package(ZLIB REQUIRED)
  find_path(SPNG_INCLUDE_DIR spng.h)
  find_library(SPNG_LIBRARY spng)
  if(NOT SPNG_INCLUDE_DIR OR NOT SPNG_LIBRARY)
    message(FATAL_ERROR "libspng not found: install Debian's libspng-dev")
  endif()
  icon_zlib_header_version(${ZLIB_INCLUDE_DIRS}/zlib.h zlib_version)
  icon_spng_header_version(${SPNG_INCLUDE_DIR}/spng.h spng_version)
  icon_check_library_version(zlib ${ZLIB_INCLUDE_DIRS}/zlib.h "${zlib_version}" ${ICON_ZLIB_VERSION})
  icon_check_library_version(libspng ${SPNG_INCLUDE_DIR}/spng.h "${spng_version}" ${ICON_SPNG_VERSION})
  add_library(icon_spng INTERFACE)
  target_include_directories(icon_spng SYSTEM INTERFACE ${SPNG_INCLUDE_DIR})
  target_link_libraries(icon_spng INTERFACE ${SPNG_LIBRARY} ZLIB::ZLIB)
  add_library(icon::zlib ALIAS ZLIB::ZLIB)
  add_library(icon::spng ALIAS icon_spng)
endif()

# SVG through librsvg: on by default where it is found, never in a cross
# build (Debian has no static librsvg to link).
set(svg_default OFF)
if(NOT CMAKE_CROSSCOMPILING)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(ICON_RSVG QUIET IMPORTED_TARGET librsvg-2.0 cairo)
    set(svg_default ${ICON_RSVG_FOUND})
  endif()
endif()
option(ICON_SVG "Render SVG inputs through librsvg (librsvg2-dev)" ${svg_default})
if(ICON_SVG)
  if(NOT ICON_RSVG_FOUND)
    message(FATAL_ERROR "ICON_SVG is on but librsvg was not found: install librsvg2-dev, or configure with "
                        "-DICON_SVG=OFF")
  endif()
  add_library(icon::rsvg ALIAS PkgConfig::ICON_RSVG)
endif()
message(STATUS "Image libraries: zlib ${zlib_version}, libspng ${spng_version}, SVG ${ICON_SVG}")
