# The installed icon-tools for other CMake projects:
#
#   find_package(IconTools 1.0 REQUIRED)
#   icon_tools_bundle(OUTPUT app.ico INPUTS icons/16.ico icons/32.ico)
#   icon_tools_pack(OUTPUT app.ico INPUTS icons/16.png icons/32.png LINT)
#   icon_tools_pack(OUTPUT app.ico INPUTS art/logo-512.png SIZES windows LINT)
#   icon_tools_add_icon(app app.ico)
#
# gives the programs as imported executables, IconTools::icon-bundler,
# IconTools::icon-inspector, IconTools::icon-lint, IconTools::icon-pack and
# IconTools::icon-extract,
# icon_tools_bundle(), which adds a build rule that bundles icon files with
# icon-bundler, icon_tools_pack(), which adds one that packs PNG files with
# icon-pack or makes every size of an icon from one master image, and
# icon_tools_add_icon(), which makes an icon a Windows program's own.
#
# The programs run on the machine that builds. A cross build whose toolchain
# looks for packages only in the target's system root
# (CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY, as cross toolchains usually do)
# cannot find them until its call says so:
#
#   find_package(IconTools 1.0 REQUIRED NO_CMAKE_FIND_ROOT_PATH)
#
# The build rules start the programs by their paths, so no cross-compiling
# emulator is put in front of them.

include("${CMAKE_CURRENT_LIST_DIR}/IconToolsTargets.cmake")

# Checks what cmake_parse_arguments() made of a helper's arguments (prefix
# arg_), given the helper's keywords and its usage line: anything left over,
# a keyword without its value, and a word that looks like a keyword but is
# none, in a list such as INPUTS that would otherwise take it as a file name,
# are configuration errors.
macro(_icon_tools_check_arguments function keywords usage)
  foreach(_word IN LISTS arg_UNPARSED_ARGUMENTS)
    if(_word MATCHES "^[A-Z][A-Z0-9_]*$")
      message(FATAL_ERROR "${function}: unknown keyword ${_word}\n  ${usage}")
    endif()
  endforeach()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${function}: unexpected arguments: ${arg_UNPARSED_ARGUMENTS}\n  ${usage}")
  endif()
  foreach(_keyword IN LISTS arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "${function}: ${_keyword} is given no value\n  ${usage}")
  endforeach()
  foreach(_keyword IN ITEMS ${keywords})
    foreach(_word IN LISTS arg_${_keyword})
      if(_word MATCHES "^[A-Z][A-Z0-9_]*$" AND NOT EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${_word}")
        message(FATAL_ERROR "${function}: unknown keyword ${_word} (after ${_keyword})\n  ${usage}")
      endif()
    endforeach()
  endforeach()
endmacro()

# What both build rules check and work out, in the calling function's scope:
# `output` (its folder made) and `inputs` as absolute paths, their `count`,
# and `target`, named TARGET or <prefix>_<output's file name>. The output is
# recorded as made by that target, for icon_tools_add_icon().
macro(_icon_tools_rule function what prefix keywords usage)
  _icon_tools_check_arguments(${function} "${keywords}" "${usage}")
  if(NOT arg_OUTPUT)
    message(FATAL_ERROR "${function}: OUTPUT <file> is missing\n  ${usage}")
  endif()
  if(NOT arg_INPUTS)
    message(FATAL_ERROR "${function}: INPUTS names no ${what}\n  ${usage}")
  endif()
  cmake_path(ABSOLUTE_PATH arg_OUTPUT BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}" NORMALIZE
             OUTPUT_VARIABLE output)
  set(inputs "")
  foreach(input IN LISTS arg_INPUTS)
    cmake_path(ABSOLUTE_PATH input BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE
               OUTPUT_VARIABLE input)
    list(APPEND inputs "${input}")
  endforeach()
  list(LENGTH inputs count)
  cmake_path(GET output PARENT_PATH output_dir)
  file(MAKE_DIRECTORY "${output_dir}")
  set(target "${arg_TARGET}")
  if(NOT target)
    cmake_path(GET output FILENAME name)
    string(MAKE_C_IDENTIFIER "${prefix}_${name}" target)
  endif()
  set_property(GLOBAL PROPERTY "_icon_tools_made_by:${output}" ${target})
endmacro()

# icon_tools_bundle(OUTPUT <file> INPUTS <file>... [TARGET <name>] [ALLOW_SKIPPED] [LINT])
#
# Bundles every acceptable image of the INPUTS, in their order, into OUTPUT.
# A relative OUTPUT lies in the current build folder, relative INPUTS in the
# current source folder. The bundle is made by a target built by default,
# named TARGET or, without it, icon_bundle_<output's file name>, and made
# again whenever an input or the bundler changes. When the bundler fails, or
# reports any problem (a skipped input or image included, unless
# ALLOW_SKIPPED is given), the build fails and the previous bundle, if any,
# stays in place: the bundler writes <OUTPUT>.part, which becomes OUTPUT only
# on success. With LINT, icon-lint checks <OUTPUT>.part first: any error
# among its findings (exit status 1) fails the build in the same way.
function(icon_tools_bundle)
  set(flags ALLOW_SKIPPED LINT)
  set(values OUTPUT TARGET)
  set(lists INPUTS)
  cmake_parse_arguments(PARSE_ARGV 0 arg "${flags}" "${values}" "${lists}")
  _icon_tools_rule(icon_tools_bundle "icon file" icon_bundle "${lists}"
                   "icon_tools_bundle(OUTPUT <file> INPUTS <file>... [TARGET <name>] [ALLOW_SKIPPED] [LINT])")

  set(step "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/IconToolsBundle.cmake")
  # LINT: the bundle is checked before it takes its name.
  set(lint "")
  set(lint_depends "")
  if(arg_LINT)
    set(lint "-DLINTER=$<TARGET_FILE:IconTools::icon-lint>")
    set(lint_depends "$<TARGET_FILE:IconTools::icon-lint>")
  endif()
  add_custom_command(
    OUTPUT "${output}"
    COMMAND "${CMAKE_COMMAND}" "-DBUNDLER=$<TARGET_FILE:IconTools::icon-bundler>" "-DOUTPUT=${output}"
            "-DALLOW_SKIPPED=${arg_ALLOW_SKIPPED}" ${lint} -P "${step}" ${inputs}
    DEPENDS ${inputs} "$<TARGET_FILE:IconTools::icon-bundler>" "${step}" ${lint_depends}
    COMMENT "Bundling ${count} icon files into ${arg_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${output}")
endfunction()

# The sizes a word of SIZES or BITMAP stands for, in `var`: a size from 1 to
# 256, or the name of one of icon-pack's sets (as its --help lists them);
# empty when it is neither.
function(_icon_tools_sizes_of word var)
  if(word STREQUAL "windows")
    set(${var} 16 20 24 32 40 48 64 256 PARENT_SCOPE)
  elseif(word STREQUAL "favicon")
    set(${var} 16 32 48 PARENT_SCOPE)
  elseif(word MATCHES "^[1-9][0-9]*$" AND word LESS_EQUAL 256)
    set(${var} ${word} PARENT_SCOPE)
  else()
    set(${var} "" PARENT_SCOPE)
  endif()
endfunction()

# icon_tools_pack(OUTPUT <file> INPUTS <file>... [TARGET <name>] [KEEP_ORDER]
#                 [SIZES <size>... [BITMAP <size>...] [LINEAR]]
#                 [LINT] [REQUIRE_SIZES <size>...] [QUIET])
#
# Packs the INPUTS (PNG files, icon or cursor files, and with SIZES SVG
# drawings) into OUTPUT with icon-pack: largest first unless KEEP_ORDER,
# duplicates skipped. A relative OUTPUT lies in the current build folder,
# relative INPUTS in the current source folder. The icon is made by a target
# built by default, named TARGET or, without it, icon_pack_<output's file
# name>, and made again whenever an input or a program it runs changes. Any
# error in an input fails the build and leaves OUTPUT as it was: icon-pack
# replaces it only when complete.
#
# SIZES 16 24 32 48 256 (sizes from 1 to 256, or the sets windows and
# favicon) writes exactly those sizes: each size an input has is kept as it
# is, every other drawn from an SVG input or shrunk from the smallest larger
# image, so one master image or drawing makes them all. BITMAP (sizes among
# SIZES) makes those it makes 32-bit bitmaps with a mask instead of PNG;
# LINEAR shrinks in linear light, for photographs.
#
# With LINT, icon-lint checks the new icon before it takes its name (it is
# packed into <OUTPUT>.part first), and any error among its findings fails
# the build in the same way. REQUIRE_SIZES 16 32 48 256 (sizes from 1 to 256)
# makes each of those square sizes required, a missing one an error; it
# implies LINT. QUIET keeps icon-pack's listing of the images out of the
# build's output; problems are shown all the same.
function(icon_tools_pack)
  set(flags KEEP_ORDER LINEAR LINT QUIET)
  set(values OUTPUT TARGET)
  set(lists INPUTS SIZES BITMAP REQUIRE_SIZES)
  cmake_parse_arguments(PARSE_ARGV 0 arg "${flags}" "${values}" "${lists}")
  set(usage "icon_tools_pack(OUTPUT <file> INPUTS <file>... [TARGET <name>] [KEEP_ORDER] "
            "[SIZES <size>... [BITMAP <size>...] [LINEAR]] [LINT] [REQUIRE_SIZES <size>...] [QUIET])")
  string(JOIN "" usage ${usage})
  _icon_tools_rule(icon_tools_pack "image file" icon_pack "${lists}" "${usage}")

  # The sizes the icon will have, when SIZES says.
  set(made "")
  foreach(word IN LISTS arg_SIZES)
    _icon_tools_sizes_of("${word}" sizes)
    if(NOT sizes)
      message(FATAL_ERROR "icon_tools_pack: SIZES takes sizes from 1 to 256, one a word, or windows or "
                          "favicon, not ${word}\n  ${usage}")
    endif()
    list(APPEND made ${sizes})
  endforeach()
  if(arg_BITMAP AND NOT made)
    message(FATAL_ERROR "icon_tools_pack: BITMAP needs SIZES\n  ${usage}")
  endif()
  foreach(word IN LISTS arg_BITMAP)
    _icon_tools_sizes_of("${word}" sizes)
    if(NOT sizes)
      message(FATAL_ERROR "icon_tools_pack: BITMAP takes sizes from 1 to 256, one a word, or windows or "
                          "favicon, not ${word}\n  ${usage}")
    endif()
    foreach(size IN LISTS sizes)
      if(NOT size IN_LIST made)
        message(FATAL_ERROR "icon_tools_pack: the BITMAP size ${size} is not among the SIZES\n  ${usage}")
      endif()
    endforeach()
  endforeach()
  if(arg_LINEAR AND NOT made)
    message(FATAL_ERROR "icon_tools_pack: LINEAR needs SIZES\n  ${usage}")
  endif()
  if(NOT made)
    # icon-pack draws a drawing only at the sizes asked for.
    foreach(input IN LISTS inputs)
      if(input MATCHES "\\.[sS][vV][gG]$")
        message(FATAL_ERROR "icon_tools_pack: ${input} is an SVG drawing, which needs SIZES\n  ${usage}")
      endif()
    endforeach()
  endif()
  # A required size that SIZES leaves out would fail every build.
  foreach(size IN LISTS arg_REQUIRE_SIZES)
    if(NOT size MATCHES "^[1-9][0-9]*$" OR size GREATER 256)
      message(FATAL_ERROR "icon_tools_pack: REQUIRE_SIZES takes sizes from 1 to 256, one a word, not ${size}\n  ${usage}")
    endif()
    if(made AND NOT size IN_LIST made)
      message(FATAL_ERROR "icon_tools_pack: the REQUIRE_SIZES size ${size} is not among the SIZES\n  ${usage}")
    endif()
  endforeach()

  # Each option a word of its own; "," within a value keeps it one list item.
  set(pack_options "")
  if(arg_SIZES)
    list(JOIN arg_SIZES "," sizes)
    list(APPEND pack_options "--sizes=${sizes}")
  endif()
  if(arg_BITMAP)
    list(JOIN arg_BITMAP "," sizes)
    list(APPEND pack_options "--bitmap=${sizes}")
  endif()
  if(arg_LINEAR)
    list(APPEND pack_options --linear)
  endif()
  if(arg_KEEP_ORDER)
    list(APPEND pack_options --keep-order)
  endif()
  if(arg_QUIET)
    list(APPEND pack_options --quiet)
  endif()
  # LINT and REQUIRE_SIZES: the icon is checked before it takes its name.
  set(lint "")
  set(lint_depends "")
  if(arg_LINT OR NOT "${arg_REQUIRE_SIZES}" STREQUAL "")
    set(lint "-DLINTER=$<TARGET_FILE:IconTools::icon-lint>")
    set(lint_depends "$<TARGET_FILE:IconTools::icon-lint>")
  endif()
  if(NOT "${arg_REQUIRE_SIZES}" STREQUAL "")
    list(JOIN arg_REQUIRE_SIZES "," sizes)
    list(APPEND lint "-DREQUIRE_SIZES=${sizes}")
  endif()

  set(files "image files")
  if(count EQUAL 1)
    set(files "image file")
  endif()
  set(comment "Packing ${count} ${files} into ${arg_OUTPUT}")
  if(arg_SIZES)
    list(JOIN arg_SIZES " " sizes)
    string(APPEND comment ", sizes ${sizes}")
  endif()
  set(step "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/IconToolsPack.cmake")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND "${CMAKE_COMMAND}" "-DPACKER=$<TARGET_FILE:IconTools::icon-pack>" "-DOUTPUT=${output}"
            "-DPACK_OPTIONS=${pack_options}" ${lint} -P "${step}" ${inputs}
    DEPENDS ${inputs} "$<TARGET_FILE:IconTools::icon-pack>" "${step}" ${lint_depends}
    COMMENT "${comment}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${output}")
endfunction()

# icon_tools_add_icon(<target> <file.ico> [ID <number>])
#
# Makes the icon file the icon resource ID (1 to 65535, 1 when not given) of
# <target>, a Windows program or DLL: writes the resource script
# <target>_icon_<ID>.rc into the current build folder, adds it to the target,
# and makes the target's resource object depend on the icon, so the program
# is linked again whenever the icon changes. Explorer shows a program's icon
# resource with the lowest number; LoadImage() and LoadIcon() find it by
# MAKEINTRESOURCE(ID). A relative path names the icon that an earlier
# icon_tools_pack() or icon_tools_bundle() makes under that name in the
# current build folder, and that target is built first; else it names a file
# in the current source folder. The RC language must be enabled, as a project for Windows
# does by itself with the MinGW and Visual Studio compilers.
#
# A target not built for Windows carries no icon resource: its arguments are
# checked all the same, a message says once per configuration that no icon
# resource is added, and nothing is added to the target or written.
function(icon_tools_add_icon)
  set(usage "icon_tools_add_icon(<target> <file.ico> [ID <number>])")
  if(ARGC LESS 2)
    message(FATAL_ERROR "icon_tools_add_icon: a target and an icon file are needed\n  ${usage}")
  endif()
  set(target "${ARGV0}")
  set(icon "${ARGV1}")
  if(icon MATCHES "^[A-Z][A-Z0-9_]*$" AND NOT EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${icon}")
    message(FATAL_ERROR "icon_tools_add_icon: the icon file is missing (${icon} is no file)\n  ${usage}")
  endif()
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "ID" "")
  _icon_tools_check_arguments(icon_tools_add_icon "" "${usage}")

  if(NOT TARGET "${target}")
    message(FATAL_ERROR "icon_tools_add_icon: there is no target ${target} (yet)\n  ${usage}")
  endif()
  get_target_property(aliased "${target}" ALIASED_TARGET)
  if(aliased)
    set(target "${aliased}")
  endif()
  get_target_property(imported "${target}" IMPORTED)
  get_target_property(type "${target}" TYPE)
  if(imported OR NOT type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
    message(FATAL_ERROR "icon_tools_add_icon: ${target} is not a program or DLL built here, "
                        "so it cannot carry an icon resource\n  ${usage}")
  endif()
  set(id 1)
  if(NOT "${arg_ID}" STREQUAL "")
    if(NOT arg_ID MATCHES "^[1-9][0-9]*$" OR arg_ID GREATER 65535)
      message(FATAL_ERROR "icon_tools_add_icon: ID takes a number from 1 to 65535, not ${arg_ID}\n  ${usage}")
    endif()
    set(id "${arg_ID}")
  endif()
  get_target_property(ids "${target}" _icon_tools_icon_ids)
  if(ids AND id IN_LIST ids)
    message(FATAL_ERROR "icon_tools_add_icon: ${target} already has icon resource ${id}\n  ${usage}")
  endif()
  set_property(TARGET "${target}" APPEND PROPERTY _icon_tools_icon_ids ${id})

  # The icon: one these helpers make here, else a file of the sources.
  cmake_path(ABSOLUTE_PATH icon BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}" NORMALIZE OUTPUT_VARIABLE made)
  get_property(maker GLOBAL PROPERTY "_icon_tools_made_by:${made}")
  if(maker)
    set(icon "${made}")
  else()
    cmake_path(ABSOLUTE_PATH icon BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE)
  endif()
  if(icon MATCHES "\"")
    message(FATAL_ERROR "icon_tools_add_icon: a resource script cannot name ${icon}: it holds a double quote")
  endif()

  if(NOT WIN32)
    get_property(told GLOBAL PROPERTY _icon_tools_told_not_windows)
    if(NOT told)
      message(STATUS "icon_tools_add_icon: programs for ${CMAKE_SYSTEM_NAME} carry no icon resource; "
                     "none is added to ${target} or any other target")
      set_property(GLOBAL PROPERTY _icon_tools_told_not_windows ON)
    endif()
    return()
  endif()
  get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
  if(NOT "RC" IN_LIST languages)
    message(FATAL_ERROR "icon_tools_add_icon: the RC language is not enabled, so ${target} would build "
                        "without its icon: call enable_language(RC) or name RC in project()")
  endif()

  # Written only when it changes, so that configuring again rebuilds nothing.
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_icon_${id}.rc")
  set(text "// Made by icon_tools_add_icon(): icon resource ${id} of ${target}.\n${id} ICON \"${icon}\"\n")
  set(old "")
  if(EXISTS "${script}")
    file(READ "${script}" old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE "${script}" "${text}")
  endif()
  target_sources("${target}" PRIVATE "${script}")
  # The resource compiler reports no dependencies, so the icon is named here.
  set_property(SOURCE "${script}" TARGET_DIRECTORY "${target}" APPEND PROPERTY OBJECT_DEPENDS "${icon}")
  if(maker)
    add_dependencies("${target}" ${maker})
  endif()
endfunction()
