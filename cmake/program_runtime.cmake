# The C runtime that zov-ar, zov-nm and zov-ranlib carry: chosen here, and
# given to each program target by zov_link_program_runtime, called once in
# zov_add_frontend_program.  Nothing else in the build makes the choice.
#
# A static program pays its C library's start-up on every run, and that is
# most of what the programs cost beyond the tool they start (glibc's static
# start-up takes some 39,000 instructions, musl's some 800), so the
# programs are static by default.  Everything else in the build (the tests,
# the benchmarks' harness) keeps the compiler's own C and C++ libraries.
#
#   ZOV_PROGRAM_RUNTIME  when                                     C library, allocator
#   musl                 static; Linux, GCC, native, musl-tools   musl, static; the programs' own
#   glibc                static; the toolchain's C library is     glibc, static; the programs' own
#                        glibc (and musl is not used)
#   freebsd              static; FreeBSD                          FreeBSD's libc.a; libc's own
#   mingw                static; Windows, MinGW-w64               msvcrt.dll (part of Windows), with
#                                                                 libgcc and winpthreads linked in;
#                                                                 msvcrt's own
#   libc                 static; any other C library              the system's, static; libc's own
#   dynamic              ZOV_STATIC_PROGRAMS=OFF                  the toolchain's, shared; libc's own
#
# "The programs' own" allocator is frontend/program_heap.cc, which takes
# the place of malloc and the rest of the family in the whole program, the
# C library's start-up and functions included.  It is used only with C
# libraries known to take a static program's own allocator (glibc
# documents it; musl links none of its own when the program defines the
# family).  FreeBSD: its libc keeps its own allocator (jemalloc): whether
# its static libc.a takes a replacement is proven nowhere here, as no
# FreeBSD program is linked.
#
# ZOV_STATIC_PROGRAMS=OFF turns all of it off at once: ordinary dynamic
# programs, no musl, no allocator of their own.  ZOV_MUSL=OFF keeps static
# programs on the toolchain's C library.  Configure says once which
# runtime it chose, and why musl was not, where musl was looked for.

option(ZOV_STATIC_PROGRAMS "Link zov-ar, zov-nm and zov-ranlib statically" ON)
option(ZOV_MUSL "Link the static programs against musl where musl-tools is installed" ON)

# The runtimes under which the programs bring their own allocator.
set(ZOV_RUNTIMES_WITH_PROGRAM_HEAP musl glibc)

function(zov_choose_program_runtime)
  set(runtime "")
  set(report "")
  set(musl_unavailable "")
  if(NOT ZOV_STATIC_PROGRAMS)
    set(runtime dynamic)
  elseif(ZOV_MUSL AND CMAKE_SYSTEM_NAME STREQUAL "Linux")
    # Sets ZOV_MUSL_UNAVAILABLE (why musl cannot be used, or empty) and
    # the musl flags.
    include(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/musl.cmake)
    if(ZOV_MUSL_UNAVAILABLE)
      set(musl_unavailable "${ZOV_MUSL_UNAVAILABLE}")
    else()
      set(runtime musl)
      set(report "musl (${ZOV_MUSL_SPECS})")
    endif()
    set(ZOV_MUSL_COMPILE_OPTIONS "${ZOV_MUSL_COMPILE_OPTIONS}" PARENT_SCOPE)
    set(ZOV_MUSL_LINK_OPTIONS "${ZOV_MUSL_LINK_OPTIONS}" PARENT_SCOPE)
  endif()

  if(NOT runtime)
    include(CheckCXXSourceCompiles)
    include(CMakePushCheckState)
    cmake_push_check_state(RESET)
    set(CMAKE_REQUIRED_QUIET ON)
    check_cxx_source_compiles([=[
#include <stdlib.h>
#ifndef __GLIBC__
#error not glibc
#endif
int main() { return 0; }
]=] ZOV_TOOLCHAIN_LIBC_IS_GLIBC)
    cmake_pop_check_state()
    if(ZOV_TOOLCHAIN_LIBC_IS_GLIBC)
      set(runtime glibc)
      set(report "glibc")
    elseif(MINGW)
      # Windows' own msvcrt.dll is the C library, present on every
      # Windows; -static links libgcc and winpthreads (which the posix
      # thread model's g++ would take as DLLs) into the programs, so no DLL
      # has to lie beside them.
      set(runtime mingw)
      set(report "MinGW-w64's msvcrt.dll, libgcc and winpthreads linked in")
    elseif(CMAKE_SYSTEM_NAME STREQUAL "FreeBSD")
      # FreeBSD: static against the base system's libc.a, with its allocator.
      set(runtime freebsd)
      set(report "FreeBSD's libc (libc.a), with its own allocator")
    else()
      set(runtime libc)
      set(report "the system's C library, with its own allocator")
    endif()
    if(musl_unavailable)
      set(report "${report}, not musl (${musl_unavailable}; -DZOV_MUSL=OFF silences this)")
    elseif(runtime STREQUAL "glibc")
      set(report "")  # chosen with -DZOV_MUSL=OFF, or off Linux
    endif()
  endif()

  # Once, at the first configure: the answer is the same at every later
  # one unless the cache is changed.
  if(report AND NOT ZOV_RUNTIME_REPORTED STREQUAL "${report}")
    message(STATUS "Static programs: ${report}")
    set(ZOV_RUNTIME_REPORTED "${report}" CACHE INTERNAL "")
  endif()
  set(ZOV_PROGRAM_RUNTIME ${runtime} PARENT_SCOPE)
endfunction()

zov_choose_program_runtime()
if(ZOV_PROGRAM_RUNTIME IN_LIST ZOV_RUNTIMES_WITH_PROGRAM_HEAP)
  set(ZOV_PROGRAM_HEAP ON)
else()
  set(ZOV_PROGRAM_HEAP OFF)
endif()

# Gives the program target name its C runtime: the program code it links
# (the libraries, or for musl their musl build), the programs' own
# allocator where the runtime takes it, and the link options.  The
# runtime is ZOV_PROGRAM_RUNTIME as the caller sees it, so a caller may
# set it for one call (the benchmarks build a glibc zov-nm beside the
# musl one).
function(zov_link_program_runtime name)
  if(ZOV_PROGRAM_RUNTIME STREQUAL "musl")
    zov_link_musl_program(${name})  # cmake/musl.cmake
  else()
    target_link_libraries(${name} PRIVATE zov_frontend)
    if(NOT ZOV_PROGRAM_RUNTIME STREQUAL "dynamic")
      target_link_options(${name} PRIVATE -static)
    endif()
  endif()
  if(ZOV_PROGRAM_RUNTIME IN_LIST ZOV_RUNTIMES_WITH_PROGRAM_HEAP)
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/frontend/program_heap.cc)
  endif()
endfunction()

# A test that every program made a musl program (installed, test,
# integration and benchmark variants alike) came out static musl, added
# once every program exists: at the end of the top directory.
function(zov_add_program_runtime_test)
  get_property(programs GLOBAL PROPERTY ZOV_MUSL_PROGRAMS)
  if(NOT BUILD_TESTING OR NOT programs)
    return()
  endif()
  set(files)
  foreach(program IN LISTS programs)
    list(APPEND files $<TARGET_FILE:${program}>)
  endforeach()
  add_test(NAME musl_programs_are_static_musl
    COMMAND ${CMAKE_COMMAND} "-DPROGRAMS=${files}"
      -P ${PROJECT_SOURCE_DIR}/testing/check_static_musl.cmake)
endfunction()
cmake_language(DEFER CALL zov_add_program_runtime_test)
