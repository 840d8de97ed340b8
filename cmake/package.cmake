# Packages: `cpack --preset package` (TGZ and DEB) after the release build,
# or `cpack -G TGZ|DEB` in any build directory.
#
# TGZ: the install tree under one top directory (bin/zov-ar, ...).  The
# programs find the compiler's files from wherever that tree is unpacked,
# so nothing in it names the configured prefix.
# DEB: the same files under the configured prefix (the release preset's is
# /usr), made into what Debian's policy asks of a package by
# package/deb_policy.cmake: compressed manual pages, a machine-readable
# copyright file, a changelog made from NEWS and lintian's override for the
# static programs.  The compiler's own package owns
# lib/zov/<target>/<version>/, the plugin and the target's tools; this one
# owns the programs, their manual pages and share/doc/<package>/.
#
# The programs are stripped in both: the release build carries no debug
# information, but any other build's would hold build paths.
set(ZOV_DEB_MAINTAINER "zov packager <packager@example.org>" CACHE STRING
  "The Debian package's Maintainer field: the packager's name and mail address")
set(ZOV_DEB_REVISION "" CACHE STRING
  "The Debian revision (0.1.0-<revision>); empty makes a native package")

set(CPACK_PACKAGE_NAME ${ZOV_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "the zov developers")
set(CPACK_PACKAGE_CONTACT "${ZOV_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "front-ends running a cross compiler's ar, nm and ranlib with its plugin")
# Debian's control file takes lines of at most 80 columns.
set(description "${ZOV_PROGRAM_PREFIX}zov-ar, ${ZOV_PROGRAM_PREFIX}zov-nm and \
${ZOV_PROGRAM_PREFIX}zov-ranlib find the link-time plugin and tools of the \
${ZOV_TARGET} compiler (version ${ZOV_VERSION}) in its install tree and run \
the tools with the plugin, so that archives of link-time-optimised objects \
get a symbol index.")
set(CPACK_PACKAGE_DESCRIPTION "")
set(line "")
string(REPLACE " " ";" words "${description}")
foreach(word IN LISTS words)
  string(LENGTH "${line} ${word}" length)
  if(line STREQUAL "")
    set(line "${word}")
  elseif(length GREATER 79)
    string(APPEND CPACK_PACKAGE_DESCRIPTION "${line}\n")
    set(line "${word}")
  else()
    string(APPEND line " ${word}")
  endif()
endforeach()
string(APPEND CPACK_PACKAGE_DESCRIPTION "${line}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
# Windows users unzip: the same tree as a ZIP (bin\zov-ar.exe, ...).
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR TGZ)
endif()
set(CPACK_PACKAGE_FILE_NAME
  "${ZOV_PACKAGE_NAME}-${PROJECT_VERSION}-${ZOV_TARGET}-${ZOV_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SET_DESTDIR OFF)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME ${ZOV_PACKAGE_NAME})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZOV_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_RELEASE "${ZOV_DEB_REVISION}")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Static programs need nothing; dynamic ones get their libraries' packages.
if(NOT ZOV_STATIC_PROGRAMS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

# What package/deb_policy.cmake needs to know of this build.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/package/deb_policy.cmake)
set(CPACK_ZOV_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_ZOV_BINDIR ${CMAKE_INSTALL_BINDIR})
set(CPACK_ZOV_MANDIR ${CMAKE_INSTALL_MANDIR})
set(CPACK_ZOV_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${ZOV_PACKAGE_NAME})
set(CPACK_ZOV_STATIC_PROGRAMS)
if(ZOV_STATIC_PROGRAMS)
  foreach(prog IN ITEMS ar nm ranlib)
    list(APPEND CPACK_ZOV_STATIC_PROGRAMS ${ZOV_PROGRAM_PREFIX}zov-${prog})
  endforeach()
endif()

# The DEB installs under the configured prefix, the TGZ at its top.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT [[
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX "@CMAKE_INSTALL_PREFIX@")
endif()
]] @ONLY)
include(CPack)

# lintian on the DEB of the package workflow, made afresh from the release
# preset in a scratch build of its own, and on a variant that takes every
# other road of package/deb_policy.cmake: a Debian revision, a program
# prefix and dynamic programs.  Either is the same package whichever build
# runs the test, so only the plain native build does; a cross build's
# tests run on the target, where the host's cmake and lintian are not.
if(BUILD_TESTING AND NOT CMAKE_CROSSCOMPILING
   AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize|-stdlib=libc")
  set(lintian_args_release)
  set(lintian_args_variant -DZOV_PROGRAM_PREFIX=x86_64-linux-gnu- -DZOV_DEB_REVISION=1
      -DZOV_STATIC_PROGRAMS=OFF)
  foreach(name IN ITEMS release variant)
    add_test(NAME package.lintian.${name}
      COMMAND bash ${PROJECT_SOURCE_DIR}/package/lintian_test.sh ${PROJECT_SOURCE_DIR}
              ${CMAKE_BINARY_DIR}/package-lintian/${name} ${CMAKE_COMMAND} ${CMAKE_CPACK_COMMAND}
              ${lintian_args_${name}})
    set_tests_properties(package.lintian.${name} PROPERTIES
      LABELS package SKIP_RETURN_CODE 77 TIMEOUT 600)
  endforeach()
endif()

# The Windows ZIP, unpacked under a path with spaces and non-ASCII letters,
# runs its programs from there: under Wine, which also names the record
# file for them (winepath), so only where the build cross-compiles.
if(BUILD_TESTING AND WIN32 AND CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME package.zip
    COMMAND bash ${PROJECT_SOURCE_DIR}/package/zip_test.sh ${CMAKE_BINARY_DIR}
            ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(package.zip PROPERTIES LABELS package TIMEOUT 300)
endif()
