# The C library the three programs are linked with.
#
# A static program pays its C library's start-up on every run, and that is
# most of what the programs cost beyond the tool they start: glibc's static
# start-up takes some 39,000 instructions, musl's some 800.  So where musl
# can be had (Debian's musl-tools: the gcc driver with musl's specs file) the
# programs are linked statically against it; everything else in the build
# (the tests, the benchmarks' harness) stays with the compiler's own C and
# C++ libraries and runs the musl programs as it runs any other.
#
# The product code needs only C headers, so it is compiled as C++ by the
# same g++ with musl's specs file, which swaps the system's include
# directories for musl's, and linked by the gcc driver, which brings no C++
# runtime.  musl has no kernel headers of its own: a directory with the
# host's linux/, asm/ and asm-generic/ (and nothing of glibc's) stands in.
#
# Sets ZOV_PROGRAMS_MUSL (ON when the programs are musl programs), and
# defines zov_add_musl_program_library (the program code built for musl),
# zov_link_musl_program (for zov_add_frontend_program) and
# zov_add_musl_programs_test.  Whatever keeps musl from being used (not
# Linux, cross-compiling, other compilers, no musl-tools, flags such as a
# sanitizer's that a static musl program cannot take) leaves the programs
# with the toolchain's own C library, and configure says why, once.

option(ZOV_MUSL "Link the static programs against musl where musl-tools is installed" ON)
set(ZOV_MUSL_SPECS "" CACHE FILEPATH
  "musl's gcc specs file (default: looked for where Debian's musl-dev puts it)")
set(ZOV_MUSL_KERNEL_HEADERS "" CACHE PATH
  "A directory holding only linux/, asm/ and asm-generic/ (default: assembled in the build tree from the host's)")

set(ZOV_PROGRAMS_MUSL OFF)

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

if(ZOV_STATIC_PROGRAMS AND ZOV_MUSL)
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
    # ZOV_LIBC_MUSL: musl, by design, has no macro that names it.
    set(ZOV_MUSL_COMPILE_OPTIONS -specs=${ZOV_MUSL_SPECS}
      -isystem ${ZOV_MUSL_KERNEL_HEADERS_IN_USE} -DZOV_LIBC_MUSL)
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
      set(musl_reason "a static test program does not build with ${ZOV_MUSL_SPECS}")
    endif()
  endif()

  if(musl_reason)
    # Once, at the first configure: the answer is the same at every later
    # one unless the cache is changed.
    if(NOT ZOV_MUSL_REPORTED STREQUAL "${musl_reason}")
      message(STATUS "Static programs: glibc, not musl (${musl_reason}; -DZOV_MUSL=OFF silences this)")
      set(ZOV_MUSL_REPORTED "${musl_reason}" CACHE INTERNAL "")
    endif()
  else()
    set(ZOV_PROGRAMS_MUSL ON)
    if(NOT ZOV_MUSL_REPORTED STREQUAL "musl")
      message(STATUS "Static programs: musl (${ZOV_MUSL_SPECS})")
      set(ZOV_MUSL_REPORTED "musl" CACHE INTERNAL "")
    endif()
  endif()
endif()

# The program code once more, for musl: every source of the libraries the
# programs link (so nothing here has to follow their source lists), built
# with the musl flags on top of the libraries' own.  Called where those
# libraries exist.
function(zov_add_musl_program_library)
  if(NOT ZOV_PROGRAMS_MUSL)
    return()
  endif()
  set(sources)
  foreach(library IN ITEMS zov_frontend zov_pathsearch zov_pex zov_support)
    get_target_property(library_sources ${library} SOURCES)
    get_target_property(library_dir ${library} SOURCE_DIR)
    foreach(source IN LISTS library_sources)
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${library_dir}")
      list(APPEND sources "${source}")
    endforeach()
  endforeach()
  add_library(zov_programs_musl STATIC ${sources})
  target_include_directories(zov_programs_musl PUBLIC ${PROJECT_SOURCE_DIR})
  foreach(library IN ITEMS zov_frontend zov_pathsearch zov_pex zov_support)
    target_compile_definitions(zov_programs_musl PRIVATE
      $<TARGET_PROPERTY:${library},COMPILE_DEFINITIONS>)
  endforeach()
  target_compile_options(zov_programs_musl PRIVATE ${ZOV_PROGRAM_FLAGS} ${ZOV_MUSL_COMPILE_OPTIONS})
  # Optimised across the program code as one whole (some 400 of the 7,500
  # instructions of a run: the small functions of one library inlined into
  # another's callers).
  set_target_properties(zov_programs_musl PROPERTIES INTERPROCEDURAL_OPTIMIZATION ON)
endfunction()

# Makes the program target name a static musl program: its own sources
# compiled for musl, the musl build of the libraries, the programs' own
# allocator, musl's start files
# and C library, and the link done by the C driver, so that no C++ runtime
# comes along.
function(zov_link_musl_program name)
  target_compile_options(${name} PRIVATE ${ZOV_MUSL_COMPILE_OPTIONS})
  # The programs' allocator in place of musl's.
  target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/frontend/program_heap.cc)
  target_link_libraries(${name} PRIVATE zov_programs_musl)
  target_link_options(${name} PRIVATE ${ZOV_MUSL_LINK_OPTIONS})
  set_target_properties(${name} PROPERTIES LINKER_LANGUAGE C INTERPROCEDURAL_OPTIMIZATION ON)
  set_property(GLOBAL APPEND PROPERTY ZOV_MUSL_PROGRAMS ${name})
endfunction()

# A test that every program made a musl program (installed, test,
# integration and benchmark variants alike) came out static musl: called
# once every program exists.
function(zov_add_musl_programs_test)
  get_property(programs GLOBAL PROPERTY ZOV_MUSL_PROGRAMS)
  if(NOT programs)
    return()
  endif()
  set(files)
  foreach(program IN LISTS programs)
    list(APPEND files $<TARGET_FILE:${program}>)
  endforeach()
  add_test(NAME musl_programs_are_static_musl
    COMMAND ${CMAKE_COMMAND} "-DPROGRAMS=${files}"
      -P ${PROJECT_SOURCE_DIR}/frontend/testing/check_static_musl.cmake)
endfunction()
