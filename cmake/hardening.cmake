# Optimised builds are hardened as Debian builds its packages, and carry no
# path of the machine that built them, so that two builds of the same sources
# give the same bytes. Each flag is used only where the compiler or linker
# takes it. The sanitizer and fuzz builds keep their own instrumentation.

option(ICON_HARDEN "Harden optimised builds (fortified calls, stack protection, PIE, full RELRO)" ON)

if(ICON_HARDEN AND NOT ICON_SANITIZE AND NOT ICON_FUZZ)
  include(CheckCXXCompilerFlag)
  include(CheckLinkerFlag)

  set(optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")

  # Debian optimises with -O2; CMake's Release default is -O3.
  add_compile_options("$<$<CONFIG:Release>:-O2>")

  # Bounds-checked variants of memcpy, read and friends where the size is
  # known at compile time. A compiler that defines the macro itself (some
  # distributions do) would warn about the redefinition.
  add_compile_options("$<${optimised}:-U_FORTIFY_SOURCE>" "$<${optimised}:-D_FORTIFY_SOURCE=2>")

  # Stack clash protection is for ELF hosts: MinGW-w64's g++ 12 stops with an
  # internal error when it meets it in functions with SEH unwind tables.
  set(protections -fstack-protector-strong -fcf-protection)
  if(NOT WIN32)
    list(APPEND protections -fstack-clash-protection)
  endif()
  foreach(flag IN LISTS protections)
    string(MAKE_C_IDENTIFIER "ICON_CXX_HAS${flag}" var)
    check_cxx_compiler_flag(${flag} ${var})
    if(${var})
      add_compile_options("$<${optimised}:${flag}>")
    endif()
  endforeach()
  # Linking with the stack protector's flag brings in its runtime where the
  # C library lacks it (MinGW-w64's libssp, which the fortified calls use too).
  if(ICON_CXX_HAS_fstack_protector_strong)
    add_link_options("$<${optimised}:-fstack-protector-strong>")
  endif()

  # No build folder in the objects: source and build paths are rewritten to
  # relative ones (the build folder may lie inside the source folder, and the
  # option given last is tried first).
  check_cxx_compiler_flag(-ffile-prefix-map=a=b ICON_CXX_HAS_FILE_PREFIX_MAP)
  if(ICON_CXX_HAS_FILE_PREFIX_MAP)
    add_compile_options("$<${optimised}:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
                        "$<${optimised}:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>")
  endif()

  # Position-independent executables, so that the programs load at a random
  # address. The static libraries go into executables only, so they are
  # compiled as -fPIE too (-fPIC would keep calls within them from being
  # inlined).
  check_cxx_compiler_flag(-fPIE ICON_CXX_HAS_FPIE)
  check_linker_flag(CXX -pie ICON_LINKER_HAS_PIE)
  if(ICON_CXX_HAS_FPIE AND ICON_LINKER_HAS_PIE)
    # A loadable module (the tests' preloaded shim) keeps its -fPIC.
    set(not_a_module "$<NOT:$<IN_LIST:$<TARGET_PROPERTY:TYPE>,SHARED_LIBRARY;MODULE_LIBRARY>>")
    add_compile_options("$<$<AND:${optimised},${not_a_module}>:-fPIE>")
    add_link_options("$<$<AND:${optimised},$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>>:-pie>")
  endif()

  # Relocations resolved at start-up, then the tables made read-only.
  check_linker_flag(CXX "LINKER:-z,relro,-z,now" ICON_LINKER_HAS_RELRO_NOW)
  if(ICON_LINKER_HAS_RELRO_NOW)
    add_link_options("$<${optimised}:LINKER:-z,relro,-z,now>")
  endif()
endif()
