# Everything installed besides the programs and their manual pages, and the
# packages that `cpack` makes of it: a .deb that lintian passes and a .tar.gz,
# both byte for byte the same whenever they are made from the same commit.

include(CMakePackageConfigHelpers)
include(${CMAKE_CURRENT_LIST_DIR}/news.cmake)

set(ICON_CONTACT "icon-tools maintainers <maintainers@icon-tools.example>")
set(ICON_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/icon-tools)
set(ICON_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/IconTools)
set(docs ${PROJECT_BINARY_DIR}/doc)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/NEWS.md)

# The licence: LICENSE at the top of the archive, and in Debian's
# machine-readable copyright format as share/doc/icon-tools/copyright, where
# the MIT licence's text goes by the name Expat.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
if(NOT licence MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(.*)$")
  message(FATAL_ERROR "LICENSE: no line `Copyright (c) <year> <holder>` followed by the licence text")
endif()
set(copyright_holder "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" licence_text)
string(REGEX REPLACE "\n\n" "\n.\n" licence_text "${licence_text}")
string(REGEX REPLACE "\n" "\n " licence_text "${licence_text}")
file(WRITE ${docs}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: icon-tools
Upstream-Contact: ${ICON_CONTACT}

Files: *
Copyright: ${copyright_holder}
License: Expat
 ${licence_text}
")
if(WIN32)
  # The Windows .zip: the programs, their manual pages as text (man/), the
  # README and the licence.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . COMPONENT archive_licence EXCLUDE_FROM_ALL)
endif()

# The changelog, made from NEWS.md, whose newest release must be this one.
icon_news_to_changelog(${PROJECT_SOURCE_DIR}/NEWS.md icon-tools "${ICON_CONTACT}" ${docs}/changelog)
if(NOT ICON_NEWS_VERSION STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "NEWS.md's newest release is ${ICON_NEWS_VERSION}, but this is version "
                      "${PROJECT_VERSION}: add a section `## ${PROJECT_VERSION} (<yyyy-mm-dd>)`")
endif()
find_program(GZIP_EXECUTABLE gzip)
if(GZIP_EXECUTABLE)
  # -n keeps the name and time out of the archive, as for the manual pages.
  add_custom_command(
    OUTPUT ${docs}/changelog.gz
    COMMAND ${GZIP_EXECUTABLE} -9nc ${docs}/changelog > ${docs}/changelog.gz
    DEPENDS ${docs}/changelog
    VERBATIM)
  set(changelog ${docs}/changelog.gz)
else()
  set(changelog ${docs}/changelog)
endif()
add_custom_target(package_docs ALL DEPENDS ${changelog})
if(NOT WIN32)
  install(FILES ${docs}/copyright ${changelog} DESTINATION ${ICON_DOC_DIR})
  # Bash completion, one file a program, named after it, where
  # bash-completion loads it from when the program is first completed.
  install(FILES ${PROJECT_SOURCE_DIR}/completion/icon-bundler ${PROJECT_SOURCE_DIR}/completion/icon-inspector
                ${PROJECT_SOURCE_DIR}/completion/icon-lint ${PROJECT_SOURCE_DIR}/completion/icon-pack
                ${PROJECT_SOURCE_DIR}/completion/icon-extract
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endif()

# The CMake package: find_package(IconTools) in another project gives the
# programs as IconTools::icon-bundler, IconTools::icon-inspector,
# IconTools::icon-lint, IconTools::icon-pack and IconTools::icon-extract,
# icon_tools_bundle(), icon_tools_pack() and icon_tools_add_icon(). The
# programs run on the machine that builds, so the version file does not ask
# for the consumer's pointer size.
install(EXPORT IconToolsTargets NAMESPACE IconTools:: DESTINATION ${ICON_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/IconToolsConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/IconToolsConfig.cmake ${CMAKE_CURRENT_LIST_DIR}/IconToolsBundle.cmake
              ${CMAKE_CURRENT_LIST_DIR}/IconToolsPack.cmake ${PROJECT_BINARY_DIR}/IconToolsConfigVersion.cmake
        DESTINATION ${ICON_CMAKE_DIR})

# What the build makes of the packages' contents, for a package made without
# the rest of the build (tests/package/check_lintian.sh): whatever a build
# rule makes for installation joins it.
add_custom_target(package_contents)
add_dependencies(package_contents icon-bundler icon-inspector icon-lint icon-pack icon-extract man_pages package_docs)

# Packages: `cpack` in a build folder makes a .deb and a .tar.gz.
set(CPACK_PACKAGE_NAME icon-tools)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "inspect, merge, make and take apart Windows icon (.ico) files")
set(CPACK_PACKAGE_DESCRIPTION "Console programs for ICO icon files.
icon-inspector lists what the directory and the image headers of icon
files say, and reports bitmap images whose stored size differs from what
their header implies.
icon-bundler merges every acceptable image of several icon files into one
new icon file with a fresh directory.
icon-lint checks icon and cursor files for what keeps Windows and the
browsers from showing every image as intended.

icon-pack makes an icon file from PNG files (and icon or cursor files),
each image's bytes unchanged and every directory entry made from its image.

icon-extract writes every image of icon and cursor files as a PNG file,
and every icon and cursor group of Windows programs and libraries as the
icon or cursor file that went into it.")
set(CPACK_PACKAGE_CONTACT "${ICON_CONTACT}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Files and folders in the .deb get Debian's modes, whatever the umask.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
find_program(DPKG_SHLIBDEPS_EXECUTABLE dpkg-shlibdeps)
if(DPKG_SHLIBDEPS_EXECUTABLE)
  # Depends: computed from the shared libraries the programs link (libc).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
endif()
# The file times in the packages, and LICENSE in the archive only.
find_package(Git QUIET)
configure_file(${CMAKE_CURRENT_LIST_DIR}/CPackOptions.cmake.in ${PROJECT_BINARY_DIR}/CPackOptions.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackOptions.cmake)
include(CPack)
