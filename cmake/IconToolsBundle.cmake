# The build step of icon_tools_bundle(): runs the bundler into <OUTPUT>.part
# and renames that over OUTPUT only when the bundle can be trusted.
#
#   cmake -DBUNDLER=<icon-bundler> -DOUTPUT=<file> [-DALLOW_SKIPPED=ON]
#         -P IconToolsBundle.cmake <input>...
#
# The bundler exits with 0 when single inputs or images were skipped; a build
# rule that drops images is rarely what its author wants, so any line on its
# standard error fails the step unless ALLOW_SKIPPED is on. On failure the
# previous OUTPUT, if any, stays as it was.

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

execute_process(COMMAND "${BUNDLER}" -o "${OUTPUT}.part" ${inputs}
                RESULT_VARIABLE status ERROR_VARIABLE problems)
if(problems)
  message(NOTICE "${problems}")
endif()
if(NOT status EQUAL 0 OR (problems AND NOT ALLOW_SKIPPED))
  file(REMOVE "${OUTPUT}.part")
  if(status EQUAL 0)
    message(FATAL_ERROR "icon-bundler skipped inputs or images of ${OUTPUT} (ALLOW_SKIPPED takes such a bundle)")
  endif()
  message(FATAL_ERROR "icon-bundler could not make ${OUTPUT} (status ${status})")
endif()
file(RENAME "${OUTPUT}.part" "${OUTPUT}")
