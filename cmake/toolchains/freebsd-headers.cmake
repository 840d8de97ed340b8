# Shared part of the FreeBSD 14 toolchain files: Debian's clang compiling
# for FreeBSD against a sysroot that holds FreeBSD's C headers and nothing
# else, the header set that lies in shared/freebsd/ beside the project
# (.ci/freebsd runs it; its README.md says where the files come from).
#
# Set before including: ZOV_FREEBSD_TRIPLE (clang's target),
# ZOV_FREEBSD_ARCH (amd64 or arm64: the sysroot-<arch> directory),
# CMAKE_SYSTEM_PROCESSOR.  ZOV_FREEBSD_HEADERS (cache or environment)
# names another copy of the header set.
#
# There are no FreeBSD libraries or start files, so no program can be
# linked.  Linking a program is therefore a check instead: every symbol
# that its objects and libraries leave undefined must be one that
# FreeBSD 14's libc exports, and none may belong to the C++ runtime
# (freebsd-check-symbols.sh).  The "program" it leaves is the list of the
# C library symbols the program calls.

set(CMAKE_SYSTEM_NAME FreeBSD)
set(CMAKE_SYSTEM_VERSION 14.0)

if(NOT ZOV_FREEBSD_HEADERS)
  if(DEFINED ENV{ZOV_FREEBSD_HEADERS})
    set(ZOV_FREEBSD_HEADERS "$ENV{ZOV_FREEBSD_HEADERS}")
  else()
    # The project root's sibling, where CI puts its copy of shared/.
    cmake_path(SET ZOV_FREEBSD_HEADERS NORMALIZE "${CMAKE_CURRENT_LIST_DIR}/../../../shared/freebsd")
  endif()
endif()
set(ZOV_FREEBSD_HEADERS "${ZOV_FREEBSD_HEADERS}" CACHE PATH "The FreeBSD header set (sysroot-amd64/, sysroot-arm64/, libc-symbols.tsv)")
set(ZOV_FREEBSD_SYMBOLS "${ZOV_FREEBSD_HEADERS}/libc-symbols.tsv")
if(NOT EXISTS "${ZOV_FREEBSD_HEADERS}/sysroot-${ZOV_FREEBSD_ARCH}/usr/include/stdlib.h"
   OR NOT EXISTS "${ZOV_FREEBSD_SYMBOLS}")
  message(FATAL_ERROR "No FreeBSD ${ZOV_FREEBSD_ARCH} headers and libc symbol list in "
    "${ZOV_FREEBSD_HEADERS}; set ZOV_FREEBSD_HEADERS to the directory that holds them")
endif()
# try_compile projects read this file again; they get the same directory.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZOV_FREEBSD_HEADERS)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${ZOV_FREEBSD_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${ZOV_FREEBSD_TRIPLE})
set(CMAKE_SYSROOT "${ZOV_FREEBSD_HEADERS}/sysroot-${ZOV_FREEBSD_ARCH}")

# Only clang's own headers (stddef.h, stdarg.h, ...) and FreeBSD's: none of
# the build machine's, and no C++ library, whose headers the programs must
# not need.
find_program(ZOV_FREEBSD_CLANG clang)
if(NOT ZOV_FREEBSD_CLANG)
  message(FATAL_ERROR "clang not found (Debian's clang package)")
endif()
execute_process(COMMAND ${ZOV_FREEBSD_CLANG} -print-resource-dir
  OUTPUT_VARIABLE clang_resource_dir OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(freebsd_include_flags
  "-nostdinc -isystem ${clang_resource_dir}/include -isystem ${CMAKE_SYSROOT}/usr/include")
set(CMAKE_C_FLAGS_INIT "${freebsd_include_flags}")
set(CMAKE_CXX_FLAGS_INIT "${freebsd_include_flags}")

# Configure's probes compile, and never link.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH "${CMAKE_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The link of a program: the symbol check, given the program's objects and
# libraries in the order a linker would take them.
set(freebsd_check "bash \"${CMAKE_CURRENT_LIST_DIR}/freebsd-check-symbols.sh\" \"${ZOV_FREEBSD_SYMBOLS}\" <TARGET> <OBJECTS> <LINK_LIBRARIES>")
set(CMAKE_C_LINK_EXECUTABLE "${freebsd_check}")
set(CMAKE_CXX_LINK_EXECUTABLE "${freebsd_check}")
