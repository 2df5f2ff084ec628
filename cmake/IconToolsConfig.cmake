# The installed icon-tools for other CMake projects:
#
#   find_package(IconTools 1.0 REQUIRED)
#   icon_tools_bundle(OUTPUT app.ico INPUTS icons/16.ico icons/32.ico)
#   icon_tools_pack(OUTPUT app.ico INPUTS icons/16.png icons/32.png)
#
# gives the programs as imported executables, IconTools::icon-bundler,
# IconTools::icon-inspector, IconTools::icon-lint, IconTools::icon-pack and
# IconTools::icon-extract,
# icon_tools_bundle(), which adds a build rule that bundles icon files with
# icon-bundler, and icon_tools_pack(), which adds one that packs PNG files
# with icon-pack.

include("${CMAKE_CURRENT_LIST_DIR}/IconToolsTargets.cmake")

# What both build rules check and work out, in the calling function's scope:
# `output` (its folder made) and `inputs` as absolute paths, their `count`,
# and `target`, named TARGET or <prefix>_<output's file name>.
macro(_icon_tools_rule function what prefix)
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${function}: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_OUTPUT)
    message(FATAL_ERROR "${function}: OUTPUT <file> is missing")
  endif()
  if(NOT arg_INPUTS)
    message(FATAL_ERROR "${function}: INPUTS names no ${what}")
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
  cmake_parse_arguments(PARSE_ARGV 0 arg "ALLOW_SKIPPED;LINT" "OUTPUT;TARGET" "INPUTS")
  _icon_tools_rule(icon_tools_bundle "icon file" icon_bundle)

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

# icon_tools_pack(OUTPUT <file> INPUTS <file>... [KEEP_ORDER] [TARGET <name>])
#
# Packs the INPUTS (PNG files, icon or cursor files) into OUTPUT with
# icon-pack: largest first unless KEEP_ORDER, duplicates skipped. A relative
# OUTPUT lies in the current build folder, relative INPUTS in the current
# source folder. The icon is made by a target built by default, named TARGET
# or, without it, icon_pack_<output's file name>, and made again whenever an
# input or icon-pack changes. Any error in an input fails the build and
# leaves OUTPUT as it was: icon-pack replaces it only when complete.
function(icon_tools_pack)
  cmake_parse_arguments(PARSE_ARGV 0 arg "KEEP_ORDER" "OUTPUT;TARGET" "INPUTS")
  _icon_tools_rule(icon_tools_pack "image file" icon_pack)
  set(options "")
  if(arg_KEEP_ORDER)
    set(options --keep-order)
  endif()

  # "--" keeps an input whose name starts with "-" an input.
  add_custom_command(
    OUTPUT "${output}"
    COMMAND IconTools::icon-pack ${options} -o "${output}" -- ${inputs}
    DEPENDS ${inputs} "$<TARGET_FILE:IconTools::icon-pack>"
    COMMENT "Packing ${count} image files into ${arg_OUTPUT}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${output}")
endfunction()
