# Bundles the example icons into one file, inspects the result and lints the
# examples and the bundle, packs the example PNG files into an icon and
# inspects that too, makes every Windows size from one master PNG and lints
# that icon, takes icons and the example library apart, printing
# each command as run from a scratch folder that holds copies of the
# examples, then its standard output, its standard error and its exit status.
#
#   cmake -DBUNDLER=<icon-bundler> -DINSPECTOR=<icon-inspector> -DLINT=<icon-lint> -DPACK=<icon-pack>
#         -DEXTRACT=<icon-extract> -DEXAMPLES=<this folder> -DWORK_DIR=<scratch folder>
#         [-DEXPECTED=<transcript file>] [-DQUOTED_IN=<README.md>]
#         [-DEMULATOR=<command|argument|...>] -P demo.cmake
#
# With EXPECTED set, the transcript must equal that file byte for byte; with
# QUOTED_IN set, that Markdown file must quote it whole in one code block.
# EMULATOR is the command (its words joined by "|") that runs the programs of
# a cross build. execute_process reads the CR LF that ends each line of a
# Windows program as LF.

foreach(var BUNDLER INSPECTOR LINT PACK EXTRACT EXAMPLES WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "demo.cmake: ${var} is not set")
  endif()
  # The programs run from the scratch folder.
  get_filename_component(${var} "${${var}}" ABSOLUTE)
endforeach()

set(inputs palette.ico truecolor.ico png.ico pointer.cur damaged.ico)
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
foreach(name IN LISTS inputs ITEMS icon-16.png icon-32.png icon-48.png logo-512.png resources.dll)
  file(COPY "${EXAMPLES}/${name}" DESTINATION "${WORK_DIR}")
endforeach()
file(MAKE_DIRECTORY "${WORK_DIR}/icons")

set(transcript "")

string(REPLACE "|" ";" emulator "${EMULATOR}")

# Runs `program` (shown as `shown_name`) with the remaining arguments and
# appends the command and all it wrote to the transcript. Error messages hold
# semicolons, so every value stays quoted.
function(run_step program shown_name)
  execute_process(COMMAND ${emulator} "${program}" ${ARGN}
                  WORKING_DIRECTORY "${WORK_DIR}"
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  list(JOIN ARGN " " shown_args)
  string(APPEND transcript "$ ${shown_name} ${shown_args}\n${out}")
  if(NOT err STREQUAL "")
    string(APPEND transcript "[standard error]\n${err}")
  endif()
  string(APPEND transcript "[exit status ${status}]\n\n")
  set(transcript "${transcript}" PARENT_SCOPE)
endfunction()

run_step("${BUNDLER}" icon-bundler -o bundle.ico ${inputs})
run_step("${INSPECTOR}" icon-inspector bundle.ico)
run_step("${INSPECTOR}" icon-inspector pointer.cur)
run_step("${INSPECTOR}" icon-inspector damaged.ico)
run_step("${LINT}" icon-lint ${inputs})
run_step("${LINT}" icon-lint --require-sizes=16,32 bundle.ico)
run_step("${PACK}" icon-pack -o app.ico icon-32.png icon-16.png icon-48.png palette.ico)
run_step("${INSPECTOR}" icon-inspector app.ico)
# A damaged input refuses the whole run and leaves app.ico as it was.
run_step("${PACK}" icon-pack -o app.ico app.ico damaged.ico)
# Every size from one master, the smallest also as a bitmap for readers
# that take no PNG; the master itself is too large to be an icon image.
run_step("${PACK}" icon-pack -o logo.ico --sizes=windows --bitmap=16 logo-512.png)
run_step("${LINT}" icon-lint logo.ico)
run_step("${PACK}" icon-pack -o logo.ico logo-512.png)
# Every image as a PNG file, but the ones with errors; then the icons and
# the cursor of a Windows library as the files that went into it.
run_step("${EXTRACT}" icon-extract png.ico damaged.ico)
run_step("${EXTRACT}" icon-extract -d icons resources.dll)
run_step("${INSPECTOR}" icon-inspector icons/resources-1.ico)
run_step("${EXTRACT}" icon-extract --format=json -d icons --png resources.dll)

# message() adds the last line end of its own.
string(REGEX REPLACE "\n$" "" shown "${transcript}")
message("${shown}")

if(DEFINED EXPECTED)
  file(READ "${EXPECTED}" expected)
  if(NOT transcript STREQUAL expected)
    file(WRITE "${WORK_DIR}/transcript.txt" "${transcript}")
    message(FATAL_ERROR "The transcript above differs from ${EXPECTED}; "
                        "compare with: diff -u ${EXPECTED} ${WORK_DIR}/transcript.txt")
  endif()
endif()

if(DEFINED QUOTED_IN)
  file(READ "${QUOTED_IN}" document)
  string(FIND "${document}" "```\n${shown}```" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${QUOTED_IN} does not quote the transcript above")
  endif()
endif()
