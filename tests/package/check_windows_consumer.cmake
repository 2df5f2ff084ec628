# Installs a build into a scratch prefix and cross-builds the Windows program
# in windows-consumer/ against it with MinGW-w64, as the README's Windows
# section shows: the installed package is found under a toolchain that looks
# for packages only in the target's system root, the icon is packed from PNG
# files with LINT and REQUIRE_SIZES, and icon_tools_add_icon() embeds it.
# Under Wine the program must load its own icon at 16, 32, 48 and 256. With
# each generator, a PNG file that changes must reach the program in the next
# build, and a build with nothing changed must do nothing.
#
#   cmake -DBUILD_DIR=<build to install> -DCONSUMER=<windows-consumer/> -DSOURCE_DIR=<sources>
#         -DWORK_DIR=<scratch folder> -DWINE_PREFIX=<folder kept between runs> -P check_windows_consumer.cmake
#
# Prints "skipped: ..." (the test's skip expression) when MinGW-w64 or Wine
# is not installed.

foreach(var BUILD_DIR CONSUMER SOURCE_DIR WORK_DIR WINE_PREFIX)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_windows_consumer.cmake: ${var} is not set")
  endif()
endforeach()

find_program(MINGW_CXX x86_64-w64-mingw32-g++-posix)
find_program(WINE wine)
find_program(WINESERVER wineserver)
if(NOT MINGW_CXX OR NOT WINE OR NOT WINESERVER)
  message("skipped: MinGW-w64 or Wine is not installed (Debian packages g++-mingw-w64-x86-64-posix, wine)")
  return()
endif()
find_program(NINJA ninja)
set(generators "Unix Makefiles")
if(NINJA)
  list(APPEND generators Ninja)
else()
  message("ninja is not installed (Debian package ninja-build): the Ninja generator is not tried")
endif()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${status}):\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# The README's Windows section shows the consumer's CMakeLists.txt as it is,
# bar its opening comment.
file(READ ${CONSUMER}/CMakeLists.txt recipe)
string(REGEX REPLACE "^(#[^\n]*\n)+" "" recipe "${recipe}")
file(READ ${SOURCE_DIR}/README.md readme)
string(FIND "${readme}" "${recipe}" quoted)
if(quoted EQUAL -1)
  message(FATAL_ERROR "README.md does not show tests/package/windows-consumer/CMakeLists.txt as it is:\n${recipe}")
endif()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# Whether the program holds the bytes of the file, as its icon resource
# holds the PNG images.
function(holds program file answer)
  file(READ ${program} program_hex HEX)
  file(READ ${file} file_hex HEX)
  string(FIND "${program_hex}" "${file_hex}" at)
  if(at EQUAL -1)
    set(${answer} OFF PARENT_SCOPE)
  else()
    set(${answer} ON PARENT_SCOPE)
  endif()
endfunction()

set(sizes 16 32 48 256)
set(ran_under_wine OFF)
foreach(generator IN LISTS generators)
  string(MAKE_C_IDENTIFIER "${generator}" name)
  set(src ${WORK_DIR}/${name}/src)
  set(build ${WORK_DIR}/${name}/build)
  file(COPY ${CONSUMER}/ DESTINATION ${src})
  run(${CMAKE_COMMAND} -G ${generator} -S ${src} -B ${build}
      -DCMAKE_TOOLCHAIN_FILE=${SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake -DCMAKE_PREFIX_PATH=${prefix})
  run(${CMAKE_COMMAND} --build ${build} --parallel 2)
  # QUIET: no listing of the images in the build's output.
  if(out MATCHES "Packed [0-9]+ images")
    message(FATAL_ERROR "${generator}: icon-pack listed the images despite QUIET:\n${out}")
  endif()
  set(program ${build}/show_icon.exe)
  foreach(size IN LISTS sizes)
    holds(${program} ${src}/art/${size}.png held)
    if(NOT held)
      message(FATAL_ERROR "${generator}: show_icon.exe does not hold art/${size}.png")
    endif()
  endforeach()

  # The program checks its icon as Windows loads it; once is enough. The
  # Wine session it starts is ended at once, whatever the outcome.
  if(NOT ran_under_wine)
    execute_process(COMMAND sh ${SOURCE_DIR}/cmake/wine-run.sh ${WINE_PREFIX} ${program}
                    RESULT_VARIABLE status OUTPUT_VARIABLE shown ERROR_VARIABLE errors TIMEOUT 300)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${WINE_PREFIX} ${WINESERVER} -k ERROR_QUIET)
    string(REPLACE "\r\n" "\n" shown "${shown}")
    set(expected "")
    foreach(size IN LISTS sizes)
      string(APPEND expected "${size}: image ${size} x ${size}, icon ${size} x ${size}\n")
    endforeach()
    if(NOT status EQUAL 0 OR NOT shown STREQUAL expected)
      message(FATAL_ERROR "show_icon.exe under Wine (status ${status}):\n${shown}${errors}\nexpected:\n${expected}")
    endif()
    set(ran_under_wine ON)
  endif()

  # Another 48 x 48 image: the next build must put it into the program, and
  # the one after it must have nothing to do.
  file(COPY_FILE ${SOURCE_DIR}/examples/icon-48.png ${src}/art/48.png)
  run(${CMAKE_COMMAND} --build ${build} --parallel 2)
  holds(${program} ${src}/art/48.png held)
  holds(${program} ${CONSUMER}/art/48.png held_before)
  if(NOT held OR held_before)
    message(FATAL_ERROR "${generator}: show_icon.exe was not made again with the new art/48.png:\n${out}")
  endif()
  run(${CMAKE_COMMAND} --build ${build} --parallel 2)
  if(out MATCHES "Packing|Building|Linking")
    message(FATAL_ERROR "${generator}: a build with nothing changed did something:\n${out}")
  endif()
endforeach()
