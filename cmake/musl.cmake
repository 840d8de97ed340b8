# Static musl programs where the host can make them: included by
# program_runtime.cmake (which makes the choice) for a static Linux build
# that may use musl.
#
# Where musl can be had (Debian's musl-tools: the gcc driver with musl's
# specs file), the product code, which needs only C headers, is compiled
# as C++ by the same g++ with musl's specs file, which swaps the system's
# include directories for musl's, and linked by the gcc driver, which
# brings no C++ runtime.  musl has no kernel headers of its own: a
# directory with the host's linux/, asm/ and asm-generic/ (and nothing of
# glibc's) stands in.
#
# Sets ZOV_MUSL_UNAVAILABLE: why musl cannot be used (not Linux,
# cross-compiling, other compilers, no musl-tools, flags such as a
# sanitizer's that a static musl program cannot take), or empty; and,
# when it can, ZOV_MUSL_COMPILE_OPTIONS and ZOV_MUSL_LINK_OPTIONS.
# Defines zov_link_musl_program, the musl case of zov_link_program_runtime.

set(ZOV_MUSL_SPECS "" CACHE FILEPATH
  "musl's gcc specs file (default: looked for where Debian's musl-dev puts it)")
set(ZOV_MUSL_KERNEL_HEADERS "" CACHE PATH
  "A directory holding only linux/, asm/ and asm-generic/ (default: assembled in the build tree from the host's)")

# Why musl is not used, or empty when it is.
function(zov_musl_unavailable_reason out)
  set(reason "")
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(reason "not a Linux build")
  elseif(CMAKE_CROSSCOMPILING)
    # musl-tools serves the build machine's own architecture only.
    set(reason "cross-compiling")
  elseif(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR NOT CMAKE_C_COMPILER_ID STREQUAL "GNU")
    # The specs file is a gcc driver's.
    set(reason "the compilers are not GCC")
  elseif(NOT ZOV_MUSL_SPECS)
    set(reason "musl's specs file (musl-gcc.specs, from musl-tools) not found")
  endif()
  set(${out} "${reason}" PARENT_SCOPE)
endfunction()

# (Included in a function: what is set here stays in its scope.)
set(ZOV_MUSL_COMPILE_OPTIONS "")
set(ZOV_MUSL_LINK_OPTIONS "")

# A specs file found earlier that has gone (musl-tools removed) is looked
# for again.
if(ZOV_MUSL_SPECS AND NOT EXISTS "${ZOV_MUSL_SPECS}")
  set(ZOV_MUSL_SPECS "" CACHE FILEPATH "musl's gcc specs file" FORCE)
endif()
if(NOT ZOV_MUSL_SPECS AND CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT CMAKE_CROSSCOMPILING)
  # Debian puts musl beside the multiarch directories, under the
  # architecture's musl triple: x86_64-linux-gnu becomes x86_64-linux-musl.
  string(REPLACE "-gnu" "-musl" musl_triple "${CMAKE_LIBRARY_ARCHITECTURE}")
  find_file(musl_specs_found musl-gcc.specs
    PATHS /usr/lib/${musl_triple} /usr/lib/musl/lib /usr/local/musl/lib
    NO_DEFAULT_PATH NO_CACHE)
  if(musl_specs_found)
    set(ZOV_MUSL_SPECS "${musl_specs_found}" CACHE FILEPATH "musl's gcc specs file" FORCE)
  endif()
endif()
zov_musl_unavailable_reason(musl_reason)

if(NOT musl_reason AND NOT ZOV_MUSL_KERNEL_HEADERS)
  find_path(linux_headers linux/sched.h NO_CACHE)
  find_path(asm_headers asm/unistd.h
    PATHS /usr/include/${CMAKE_LIBRARY_ARCHITECTURE} NO_CACHE)
  if(linux_headers AND asm_headers AND EXISTS "${linux_headers}/asm-generic")
    set(kernel_headers "${CMAKE_BINARY_DIR}/musl-kernel-headers")
    file(MAKE_DIRECTORY "${kernel_headers}")
    foreach(pair IN ITEMS "linux|${linux_headers}/linux" "asm|${asm_headers}/asm"
                          "asm-generic|${linux_headers}/asm-generic")
      string(REPLACE "|" ";" pair "${pair}")
      list(GET pair 0 link)
      list(GET pair 1 to)
      file(CREATE_LINK "${to}" "${kernel_headers}/${link}" SYMBOLIC)
    endforeach()
    set(ZOV_MUSL_KERNEL_HEADERS_IN_USE "${kernel_headers}")
  else()
    set(musl_reason "the kernel headers (linux-libc-dev) not found")
  endif()
else()
  set(ZOV_MUSL_KERNEL_HEADERS_IN_USE "${ZOV_MUSL_KERNEL_HEADERS}")
endif()

if(NOT musl_reason)
  set(ZOV_MUSL_COMPILE_OPTIONS -specs=${ZOV_MUSL_SPECS}
    -isystem ${ZOV_MUSL_KERNEL_HEADERS_IN_USE})
  set(ZOV_MUSL_LINK_OPTIONS -specs=${ZOV_MUSL_SPECS} -static)
  # Proof that the pieces fit before anything relies on them: the headers
  # the engine takes from the kernel, musl's, and a static link.  Made
  # again whenever the pieces change; a failed proof is made again at
  # every configure.
  set(musl_pieces "${ZOV_MUSL_SPECS}|${ZOV_MUSL_KERNEL_HEADERS_IN_USE}")
  if(NOT ZOV_MUSL_PROVEN STREQUAL musl_pieces)
    unset(musl_works CACHE)
  endif()
  try_compile(musl_works
    SOURCE_FROM_CONTENT musl_check.cc [=[
#include <linux/sched.h>
#include <stdio.h>
#include <sys/syscall.h>
int main() { return printf("%d\n", (int)SYS_clone3) < 0; }
]=]
    COMPILE_DEFINITIONS ${ZOV_MUSL_COMPILE_OPTIONS} -fno-exceptions -fno-rtti
    LINK_OPTIONS ${ZOV_MUSL_LINK_OPTIONS}
    OUTPUT_VARIABLE musl_check_output)
  if(musl_works)
    set(ZOV_MUSL_PROVEN "${musl_pieces}" CACHE INTERNAL "")
  else()
    unset(musl_works CACHE)
    set(ZOV_MUSL_PROVEN "" CACHE INTERNAL "")
    set(ZOV_MUSL_COMPILE_OPTIONS "")
    set(ZOV_MUSL_LINK_OPTIONS "")
    set(musl_reason "a static test program does not build with ${ZOV_MUSL_SPECS}")
  endif()
endif()

set(ZOV_MUSL_UNAVAILABLE "${musl_reason}")

# The program code once more, for musl: every source of the libraries the
# programs link (so nothing here has to follow their source lists), built
# with the musl flags on top of the libraries' own.  Made with the first
# musl program, once the libraries exist.
function(zov_add_musl_program_library)
  if(TARGET zov_programs_musl)
    return()
  endif()
  zov_program_libraries(libraries zov_frontend)
  set(sources)
  foreach(library IN LISTS libraries)
    get_target_property(library_sources ${library} SOURCES)
    get_target_property(library_dir ${library} SOURCE_DIR)
    foreach(source IN LISTS library_sources)
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${library_dir}")
      list(APPEND sources "${source}")
    endforeach()
  endforeach()
  add_library(zov_programs_musl STATIC ${sources})
  target_include_directories(zov_programs_musl PUBLIC ${PROJECT_SOURCE_DIR})
  foreach(library IN LISTS libraries)
    target_compile_definitions(zov_programs_musl PRIVATE
      $<TARGET_PROPERTY:${library},COMPILE_DEFINITIONS>)
  endforeach()
  target_compile_options(zov_programs_musl PRIVATE ${ZOV_PROGRAM_FLAGS} ${ZOV_MUSL_COMPILE_OPTIONS})
  # Optimised across the program code as one whole (some 400 of the 7,500
  # instructions of a run: the small functions of one library inlined into
  # another's callers).
  set_target_properties(zov_programs_musl PROPERTIES INTERPROCEDURAL_OPTIMIZATION ON)
endfunction()

# The library target and the project's libraries it links, directly or
# through others, in link order: the program code that the musl build
# compiles again, whichever libraries the programs come to link.
function(zov_program_libraries out library)
  set(libraries ${library})
  get_target_property(linked ${library} LINK_LIBRARIES)
  foreach(next IN LISTS linked)
    if(next MATCHES "^zov_" AND TARGET ${next})
      zov_program_libraries(below ${next})
      list(APPEND libraries ${below})
    endif()
  endforeach()
  # Each library after every one that links it: the last of its places.
  list(REVERSE libraries)
  list(REMOVE_DUPLICATES libraries)
  list(REVERSE libraries)
  set(${out} ${libraries} PARENT_SCOPE)
endfunction()

# Makes the program target name a static musl program: its own sources
# compiled for musl, the musl build of the libraries, musl's start files
# and C library, and the link done by the C driver, so that no C++ runtime
# comes along.
function(zov_link_musl_program name)
  zov_add_musl_program_library()
  target_compile_options(${name} PRIVATE ${ZOV_MUSL_COMPILE_OPTIONS})
  target_link_libraries(${name} PRIVATE zov_programs_musl)
  target_link_options(${name} PRIVATE ${ZOV_MUSL_LINK_OPTIONS})
  set_target_properties(${name} PROPERTIES LINKER_LANGUAGE C INTERPROCEDURAL_OPTIMIZATION ON)
  set_property(GLOBAL APPEND PROPERTY ZOV_MUSL_PROGRAMS ${name})
endfunction()
