# The build step of icon_tools_pack(): runs icon-pack and, with LINTER,
# checks the icon with icon-lint before it takes its name.
#
#   cmake -DPACKER=<icon-pack> -DOUTPUT=<file> [-DPACK_OPTIONS=<option>;...]
#         [-DLINTER=<icon-lint> [-DREQUIRE_SIZES=<size>,...]] -P IconToolsPack.cmake <input>...
#
# icon-pack fails on any error in an input and then leaves its output as it
# was. With LINTER the icon is packed into <OUTPUT>.part and renamed over
# OUTPUT only when icon-lint finds no error in it, so a failed check leaves
# the previous icon in place as well.

# The inputs are the arguments behind this script's path.
set(inputs "")
set(first 0)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(first GREATER 0 AND i GREATER_EQUAL first)
    list(APPEND inputs "${CMAKE_ARGV${i}}")
  elseif(CMAKE_ARGV${i} STREQUAL "-P")
    math(EXPR first "${i} + 2")
  endif()
endforeach()

set(packed "${OUTPUT}")
if(LINTER)
  set(packed "${OUTPUT}.part")
endif()
# "--" keeps an input whose name starts with "-" an input.
execute_process(COMMAND "${PACKER}" ${PACK_OPTIONS} -o "${packed}" -- ${inputs} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "icon-pack could not make ${OUTPUT} (status ${status})")
endif()
if(LINTER)
  set(sizes "")
  if(REQUIRE_SIZES)
    set(sizes "--require-sizes=${REQUIRE_SIZES}")
  endif()
  execute_process(COMMAND "${LINTER}" ${sizes} "${packed}" RESULT_VARIABLE status OUTPUT_VARIABLE findings
                  ERROR_VARIABLE findings)
  if(findings)
    message(NOTICE "${findings}")
  endif()
  if(NOT status EQUAL 0)
    file(REMOVE "${packed}")
    message(FATAL_ERROR "icon-lint found errors in ${OUTPUT} (status ${status})")
  endif()
  file(RENAME "${packed}" "${OUTPUT}")
endif()
