# Installs a build into a scratch prefix and builds the project in consumer/
# against it, as another project would use icon-tools. Its bundle must hold
# what the installed bundler makes of the same inputs, be made again when an
# input changes and only then, and a bundler that fails or skips an input
# must fail the build, every time it is run, leaving the previous bundle.
# Its packed icons must be what icon-pack makes, also of the sizes made from
# a master image with every option of those, with no listing in the build's
# output, and an icon that lacks a required size must fail the build,
# leaving the previous icon.
#
#   cmake -DBUILD_DIR=<build to install> -DCONSUMER=<consumer/> -DEXAMPLES=<examples/>
#         -DWORK_DIR=<scratch folder> -P check_consumer.cmake

foreach(var BUILD_DIR CONSUMER EXAMPLES WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_consumer.cmake: ${var} is not set")
  endif()
endforeach()

set(prefix ${WORK_DIR}/prefix)
set(src ${WORK_DIR}/src)
set(build ${WORK_DIR}/build)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${src})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${status}):\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
file(COPY ${CONSUMER}/CMakeLists.txt ${EXAMPLES}/palette.ico ${EXAMPLES}/truecolor.ico
     ${EXAMPLES}/png.ico ${EXAMPLES}/icon-16.png ${EXAMPLES}/icon-32.png ${EXAMPLES}/logo-512.png
     DESTINATION ${src})
file(WRITE ${src}/notes.txt "not an icon\n")
run(${CMAKE_COMMAND} -S ${src} -B ${build} -DCMAKE_PREFIX_PATH=${prefix})

# Builds the consumer, or only the given targets; `expect` is one of BUNDLES,
# UP_TO_DATE, FAILS (the bundler cannot create its output), SKIPS (it skipped
# an input).
function(build expect)
  if(ARGN)
    set(targets --target ${ARGN})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} ${targets}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  string(FIND "${out}" "Bundling 2 icon files into bundles/app.ico" bundled)
  if(expect STREQUAL "FAILS")
    if(status EQUAL 0 OR NOT out MATCHES "can't create output file")
      message(FATAL_ERROR "the build should have failed with the bundler (status ${status}):\n${out}")
    endif()
  elseif(expect STREQUAL "SKIPS")
    if(status EQUAL 0 OR NOT out MATCHES "can't read ICONDIR" OR NOT out MATCHES "skipped inputs or images")
      message(FATAL_ERROR "the build should have failed on a skipped input (status ${status}):\n${out}")
    endif()
  elseif(NOT status EQUAL 0)
    message(FATAL_ERROR "the build failed (${status}):\n${out}")
  elseif(expect STREQUAL "BUNDLES" AND bundled EQUAL -1)
    message(FATAL_ERROR "the bundle was not made:\n${out}")
  elseif(expect STREQUAL "UP_TO_DATE" AND NOT bundled EQUAL -1)
    message(FATAL_ERROR "the bundle was made again with no input changed:\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# The bundle must be what the installed bundler makes of `inputs`, and its
# listing must end with entry `last`.
function(check_bundle last)
  set(inputs ${ARGN})
  list(TRANSFORM inputs PREPEND ${src}/)
  run(${prefix}/bin/icon-bundler -o ${WORK_DIR}/expected.ico ${inputs})
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${build}/bundles/app.ico ${WORK_DIR}/expected.ico
                  RESULT_VARIABLE differ)
  if(differ)
    message(FATAL_ERROR "bundles/app.ico is not the bundle of ${ARGN}")
  endif()
  file(READ ${build}/bundles/app.txt listing)
  math(EXPR next "${last} + 1")
  if(NOT listing MATCHES "^app.ico\n" OR NOT listing MATCHES "ICONDIRENTRY\\[ ${last}\\]"
     OR listing MATCHES "ICONDIRENTRY\\[ ${next}\\]")
    message(FATAL_ERROR "bundles/app.txt does not list ${next} images:\n${listing}")
  endif()
endfunction()

build(BUNDLES)
if(out MATCHES "Packed [0-9]+ images")
  message(FATAL_ERROR "icon-pack listed the images despite QUIET:\n${out}")
endif()
check_bundle(4 palette.ico truecolor.ico)
if(NOT EXISTS ${build}/bundles/lenient.ico)
  message(FATAL_ERROR "ALLOW_SKIPPED did not take the bundle with a skipped input")
endif()
build(UP_TO_DATE)

# The packed icon: what the installed icon-pack makes of the same inputs.
run(${prefix}/bin/icon-pack -o ${WORK_DIR}/packed.ico ${src}/icon-16.png ${src}/icon-32.png ${src}/png.ico)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${build}/packs/app.ico ${WORK_DIR}/packed.ico
                RESULT_VARIABLE differ)
if(differ)
  message(FATAL_ERROR "packs/app.ico is not what icon-pack makes of its inputs")
endif()
run(${prefix}/bin/icon-pack --sizes=windows,72 --bitmap=16,24 --linear --keep-order -o ${WORK_DIR}/sizes.ico
    ${src}/logo-512.png)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${build}/sizes/logo.ico ${WORK_DIR}/sizes.ico
                RESULT_VARIABLE differ)
if(differ)
  message(FATAL_ERROR "sizes/logo.ico is not what icon-pack makes of logo-512.png with the same options")
endif()
# A 32 pixel image instead of the 16 pixel one: the icon lacks a required
# size, the build fails every time it is run, and the icon made before stays
# as it was, with nothing left beside it.
file(COPY_FILE ${src}/icon-32.png ${src}/icon-16.png)
foreach(attempt 1 2)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${build} --target icon_pack_app_ico
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(status EQUAL 0 OR NOT out MATCHES "no 16 x 16 image, which is required"
     OR NOT out MATCHES "icon-lint found errors in")
    message(FATAL_ERROR "the build should have failed on a missing 16 pixel image (status ${status}):\n${out}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${build}/packs/app.ico ${WORK_DIR}/packed.ico
                  RESULT_VARIABLE differ)
  if(differ OR EXISTS ${build}/packs/app.ico.part)
    message(FATAL_ERROR "a failed check of packs/app.ico changed it or left packs/app.ico.part")
  endif()
endforeach()
file(COPY_FILE ${EXAMPLES}/icon-16.png ${src}/icon-16.png)
# The extracted image: png.ico's bytes from its image's offset, 22.
file(READ ${src}/png.ico stored OFFSET 22 HEX)
file(READ ${build}/extracted/png-0-32x32-32.png extracted HEX)
if(NOT stored STREQUAL extracted)
  message(FATAL_ERROR "extracted/png-0-32x32-32.png is not the PNG image of png.ico")
endif()
# An input that is not an icon: the build fails, and the bundle made before
# stays as it was.
file(COPY_FILE ${src}/truecolor.ico ${WORK_DIR}/truecolor.ico)
file(WRITE ${src}/truecolor.ico "not an icon\n")
build(SKIPS icon_bundle_app_ico)
build(SKIPS icon_bundle_app_ico)
file(COPY_FILE ${WORK_DIR}/truecolor.ico ${src}/truecolor.ico)
check_bundle(4 palette.ico truecolor.ico)

# An input changes: one PNG image instead of three bitmaps.
file(COPY_FILE ${src}/png.ico ${src}/palette.ico)
file(TOUCH ${src}/palette.ico)
build(BUNDLES)
check_bundle(2 palette.ico truecolor.ico)

# The bundle's folder turns into a file: the bundler cannot create its output.
# Only the bundle's target is built, since the listing would fail as well.
file(REMOVE_RECURSE ${build}/bundles)
file(WRITE ${build}/bundles "")
file(TOUCH ${src}/truecolor.ico)
build(FAILS icon_bundle_app_ico)
build(FAILS icon_bundle_app_ico)
