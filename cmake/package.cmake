# Packages: `cpack --preset package` (TGZ and DEB) after the release build,
# or `cpack -G TGZ|DEB` in any build directory.
#
# TGZ: the install tree under one top directory (bin/zov-ar, ...).  The
# programs find the compiler's files from wherever that tree is unpacked,
# so nothing in it names the configured prefix.
# DEB: the same files under the configured prefix.  The compiler's own
# package owns lib/zov/<target>/<version>/, the plugin and the target's
# tools; this one owns the programs, their manual pages and
# share/doc/<package>/.
#
# The programs are stripped in both: the release build carries no debug
# information, but any other build's would hold build paths.
set(CPACK_PACKAGE_NAME ${ZOV_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "the zov developers")
set(CPACK_PACKAGE_CONTACT "the zov developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Front-ends running a cross compiler's ar, nm and ranlib with its link-time plugin")
set(CPACK_PACKAGE_DESCRIPTION
  "${ZOV_PROGRAM_PREFIX}zov-ar, ${ZOV_PROGRAM_PREFIX}zov-nm and ${ZOV_PROGRAM_PREFIX}zov-ranlib find the ${ZOV_TARGET} compiler's (version ${ZOV_VERSION}) link-time plugin and tools in its install tree and run the tools with the plugin, so archives of link-time-optimised objects get a symbol index.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR TGZ)
set(CPACK_PACKAGE_FILE_NAME
  "${ZOV_PACKAGE_NAME}-${PROJECT_VERSION}-${ZOV_TARGET}-${ZOV_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SET_DESTDIR OFF)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME ${ZOV_PACKAGE_NAME})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Static programs need nothing; dynamic ones get their libraries' packages.
if(NOT ZOV_STATIC_PROGRAMS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

# The DEB installs under the configured prefix, the TGZ at its top.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackProjectConfig.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT [[
if(CPACK_GENERATOR STREQUAL "DEB")
  set(CPACK_PACKAGING_INSTALL_PREFIX "@CMAKE_INSTALL_PREFIX@")
endif()
]] @ONLY)
include(CPack)
