# Installs a build into a scratch prefix and calls the installed helpers with
# arguments they cannot use, one small project per row: configuring must
# fail with the row's message, where a build would otherwise fail later, or
# take a keyword for a file name. Last, icon_tools_add_icon() on a program
# that is not built for Windows: one message for all calls, and nothing
# added or written.
#
#   cmake -DBUILD_DIR=<build to install> -DWORK_DIR=<scratch folder> -P check_arguments.cmake

foreach(var BUILD_DIR WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_arguments.cmake: ${var} is not set")
  endif()
endforeach()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "installing failed (${status}):\n${out}")
endif()

# Configures a project that has a program `app`, a static library `lib`, a
# file `LOGO` and the calls given; `expected` is the message configuring
# must fail with, or "" when it must succeed. Leaves the output in `out`.
set(row 0)
set(failures "")
function(configure expected calls)
  math(EXPR row "${row} + 1")
  set(row ${row} PARENT_SCOPE)
  set(dir ${WORK_DIR}/${row})
  file(WRITE ${dir}/LOGO "")
  file(WRITE ${dir}/CMakeLists.txt "cmake_minimum_required(VERSION 3.25)
project(arguments NONE)
find_package(IconTools 1.0 REQUIRED)
add_executable(app main.c)
add_library(lib STATIC lib.c)
${calls}
")
  # A project without a language cannot generate a program's build: only
  # configuring counts.
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${dir} -B ${dir}/build -DCMAKE_PREFIX_PATH=${prefix}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(REGEX REPLACE "\n *" " " flat "${out}")
  if(expected STREQUAL "")
    if(NOT out MATCHES "-- Configuring done")
      string(APPEND failures "row ${row}, ${calls}: configuring failed:\n${out}\n")
    endif()
  else()
    string(FIND "${flat}" "${expected}" found)
    if(status EQUAL 0 OR found EQUAL -1 OR out MATCHES "-- Configuring done")
      string(APPEND failures "row ${row}, ${calls}: configuring should fail with\n  ${expected}\nbut gave:\n${out}\n")
    endif()
  endif()
  set(failures "${failures}" PARENT_SCOPE)
  set(out "${out}" PARENT_SCOPE)
endfunction()

# A keyword where a file name is expected, or none where it is needed.
configure("icon_tools_pack: unknown keyword LINTT (after INPUTS)"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png LINTT)")
configure("icon_tools_pack: unknown keyword SIZE"
          "icon_tools_pack(OUTPUT a.ico SIZE 16 32 INPUTS a.png)")
configure("icon_tools_pack: unknown keyword LINEARR (after SIZES)"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png SIZES 16 32 LINEARR)")
configure("icon_tools_pack: SIZES is given no value"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png SIZES LINEAR)")
configure("icon_tools_pack: BITMAP is given no value"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png SIZES 16 BITMAP)")
configure("icon_tools_pack: REQUIRE_SIZES is given no value"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png REQUIRE_SIZES)")
configure("icon_tools_pack: OUTPUT is given no value"
          "icon_tools_pack(OUTPUT INPUTS a.png)")
configure("icon_tools_pack: TARGET is given no value"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png TARGET LINT)")
configure("icon_tools_pack: REQUIRE_SIZES takes sizes from 1 to 256, one a word, not 300"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png REQUIRE_SIZES 16 300)")
configure("icon_tools_pack: REQUIRE_SIZES takes sizes from 1 to 256, one a word, not 16,32"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png REQUIRE_SIZES 16,32)")
configure("icon_tools_pack: unknown keyword QUIETLY (after REQUIRE_SIZES)"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png REQUIRE_SIZES 16 QUIETLY)")
# The image layer's sizes: numbers or sets, a bitmap or a required size
# among them, and what needs them.
configure("icon_tools_pack: SIZES takes sizes from 1 to 256, one a word, or windows or favicon, not 300"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png SIZES 16 300)")
configure("icon_tools_pack: SIZES takes sizes from 1 to 256, one a word, or windows or favicon, not 0"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png SIZES 0 16)")
configure("icon_tools_pack: SIZES takes sizes from 1 to 256, one a word, or windows or favicon, not 16,32"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png SIZES 16,32)")
configure("icon_tools_pack: SIZES takes sizes from 1 to 256, one a word, or windows or favicon, not window"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png SIZES window)")
configure("icon_tools_pack: BITMAP takes sizes from 1 to 256, one a word, or windows or favicon, not 16px"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png SIZES 16 BITMAP 16px)")
configure("icon_tools_pack: BITMAP needs SIZES"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png BITMAP 16)")
configure("icon_tools_pack: the BITMAP size 20 is not among the SIZES"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png SIZES favicon BITMAP 16 20)")
configure("icon_tools_pack: the BITMAP size 20 is not among the SIZES"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png SIZES 16 24 32 BITMAP windows)")
configure("icon_tools_pack: LINEAR needs SIZES"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png LINEAR)")
configure("logo.SVG is an SVG drawing, which needs SIZES"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png logo.SVG)")
configure("icon_tools_pack: the REQUIRE_SIZES size 256 is not among the SIZES"
          "icon_tools_pack(OUTPUT a.ico INPUTS a.png SIZES favicon REQUIRE_SIZES 16 256)")
configure("" "icon_tools_pack(OUTPUT a.ico INPUTS logo.svg SIZES favicon 256 BITMAP favicon LINEAR
                              REQUIRE_SIZES 16 256)")
configure("" "icon_tools_pack(OUTPUT a.ico INPUTS a.png SIZES windows BITMAP 20 256 REQUIRE_SIZES 24)")
configure("icon_tools_bundle: unknown keyword ALLOW_SKIP (after INPUTS)"
          "icon_tools_bundle(OUTPUT a.ico INPUTS a.ico b.ico ALLOW_SKIP LINT)")
configure("icon_tools_bundle: INPUTS is given no value"
          "icon_tools_bundle(OUTPUT a.ico INPUTS)")
configure("icon_tools_bundle: unexpected arguments: a.ico"
          "icon_tools_bundle(a.ico INPUTS b.ico)")
configure("icon_tools_add_icon: a target and an icon file are needed"
          "icon_tools_add_icon(app)")
configure("icon_tools_add_icon: the icon file is missing (ID is no file)"
          "icon_tools_add_icon(app ID 2)")
configure("icon_tools_add_icon: ID is given no value"
          "icon_tools_add_icon(app app.ico ID)")
configure("icon_tools_add_icon: unknown keyword IDS"
          "icon_tools_add_icon(app app.ico IDS 2)")
configure("icon_tools_add_icon: unexpected arguments: 2"
          "icon_tools_add_icon(app app.ico 2)")
# Values and targets that cannot work.
configure("icon_tools_add_icon: ID takes a number from 1 to 65535, not 0"
          "icon_tools_add_icon(app app.ico ID 0)")
configure("icon_tools_add_icon: ID takes a number from 1 to 65535, not 65536"
          "icon_tools_add_icon(app app.ico ID 65536)")
configure("icon_tools_add_icon: there is no target ap (yet)"
          "icon_tools_add_icon(ap app.ico)")
configure("icon_tools_add_icon: lib is not a program or DLL built here"
          "icon_tools_add_icon(lib app.ico)")
configure("icon_tools_add_icon: app already has icon resource 2"
          "icon_tools_add_icon(app a.ico ID 2)\nicon_tools_add_icon(app b.ico ID 2)")
# A file whose name looks like a keyword is an input all the same.
configure("" "icon_tools_pack(OUTPUT a.ico INPUTS LOGO)")

# A Linux program gets no icon resource: no resource script, no source, and
# one message for both calls.
configure("" "icon_tools_add_icon(app app.ico)
icon_tools_add_icon(app other.ico ID 2)
get_target_property(sources app SOURCES)
message(STATUS \"the sources: \${sources}\")")
string(REGEX MATCHALL "icon_tools_add_icon: programs for Linux carry no icon resource" told "${out}")
list(LENGTH told told)
file(GLOB_RECURSE scripts ${WORK_DIR}/${row}/*.rc)
if(NOT told EQUAL 1 OR scripts OR NOT out MATCHES "the sources: main.c\n")
  string(APPEND failures "row ${row}: a Linux program got a resource script (${scripts}), a source, or "
                         "${told} messages:\n${out}\n")
endif()

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
