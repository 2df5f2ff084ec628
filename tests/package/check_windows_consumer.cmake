# Installs a build into a scratch prefix and cross-builds the Windows program
# in windows-consumer/ against it with MinGW-w64, as the README's Windows
# section shows: the installed package is found under a toolchain that looks
# for packages only in the target's system root, every Windows size of the
# icon is made from one master PNG file with SIZES, LINT and REQUIRE_SIZES,
# and icon_tools_add_icon() embeds it. The program must hold every image of
# the icon, and under Wine load its own icon at each of those sizes. With
# each generator, a master that changes must reach the program in the next
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

# The images of an icon file, each as hexadecimal digits, in `images`.
function(images_of icon images)
  file(READ ${icon} header LIMIT 6 HEX)
  string(SUBSTRING "${header}" 8 2 low)
  string(SUBSTRING "${header}" 10 2 high)
  math(EXPR count "0x${high}${low}")
  set(list "")
  foreach(i RANGE 1 ${count})
    math(EXPR at "6 + 16 * (${i} - 1) + 8")
    file(READ ${icon} entry OFFSET ${at} LIMIT 8 HEX)
    set(numbers "")
    foreach(start 0 8)
      set(value "")
      foreach(byte 6 4 2 0)
        math(EXPR from "${start} + ${byte}")
        string(SUBSTRING "${entry}" ${from} 2 digits)
        string(APPEND value "${digits}")
      endforeach()
      math(EXPR value "0x${value}")
      list(APPEND numbers ${value})
    endforeach()
    list(GET numbers 0 bytes)
    list(GET numbers 1 offset)
    file(READ ${icon} image OFFSET ${offset} LIMIT ${bytes} HEX)
    list(APPEND list "${image}")
  endforeach()
  set(${images} "${list}" PARENT_SCOPE)
endfunction()

# How many of the images (hexadecimal digits) the program holds, as its
# icon resource holds each image's bytes, in `held`.
function(count_held program images held)
  file(READ ${program} program_hex HEX)
  set(n 0)
  foreach(image IN LISTS images)
    string(FIND "${program_hex}" "${image}" at)
    if(NOT at EQUAL -1)
      math(EXPR n "${n} + 1")
    endif()
  endforeach()
  set(${held} ${n} PARENT_SCOPE)
endfunction()

set(sizes 16 20 24 32 40 48 64 256)
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
  images_of(${build}/app.ico images)
  list(LENGTH images count)
  count_held(${program} "${images}" held)
  list(LENGTH sizes expected)
  if(NOT count EQUAL expected OR NOT held EQUAL count)
    message(FATAL_ERROR "${generator}: app.ico has ${count} images, not ${expected}, or show_icon.exe holds "
                        "${held} of them")
  endif()

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

  # Another master: the next build must put the icon made from it into the
  # program, and the one after it must have nothing to do.
  set(images_before "${images}")
  file(COPY_FILE ${SOURCE_DIR}/examples/logo-512.png ${src}/art/logo-512.png)
  run(${CMAKE_COMMAND} --build ${build} --parallel 2)
  images_of(${build}/app.ico images)
  count_held(${program} "${images}" held)
  count_held(${program} "${images_before}" held_before)
  if(NOT held EQUAL count OR NOT held_before EQUAL 0)
    message(FATAL_ERROR "${generator}: show_icon.exe was not made again with the new art/logo-512.png (it holds "
                        "${held} of ${count} new images, ${held_before} old ones):\n${out}")
  endif()
  run(${CMAKE_COMMAND} --build ${build} --parallel 2)
  if(out MATCHES "Packing|Building|Linking")
    message(FATAL_ERROR "${generator}: a build with nothing changed did something:\n${out}")
  endif()
endforeach()
