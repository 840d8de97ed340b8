# GoogleTest for the tests.  By default the system's prebuilt library; built
# from source instead where that library cannot be linked: a cross build
# (the host's libgtest is for the host) or a different C++ standard library
# (Debian's libgtest is built against libstdc++, so a libc++ build must
# build its own).  The source is Debian's googletest package by default.

if(CMAKE_CROSSCOMPILING OR CMAKE_CXX_FLAGS MATCHES "-stdlib=libc\\+\\+")
  set(zov_gtest_from_source_default ON)
else()
  set(zov_gtest_from_source_default OFF)
endif()
option(ZOV_GTEST_FROM_SOURCE "Build GoogleTest from ZOV_GTEST_SOURCE_DIR with this build's compiler"
  ${zov_gtest_from_source_default})
set(ZOV_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH
  "GoogleTest's source tree (the top, holding googletest/)")

if(NOT ZOV_GTEST_FROM_SOURCE)
  find_package(GTest REQUIRED)
  return()
endif()

if(NOT EXISTS "${ZOV_GTEST_SOURCE_DIR}/googletest/CMakeLists.txt")
  message(FATAL_ERROR "ZOV_GTEST_FROM_SOURCE: no GoogleTest source in ${ZOV_GTEST_SOURCE_DIR} "
                      "(Debian: apt-get install googletest)")
endif()

# Only the library: not installed with the programs, no GoogleMock, and
# built only as far as the tests need it.  Our own warning options are for
# our code; GoogleTest's build brings its own.
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_build_tests OFF CACHE BOOL "" FORCE)
set(gtest_build_samples OFF CACHE BOOL "" FORCE)
get_directory_property(zov_saved_compile_options COMPILE_OPTIONS)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
add_subdirectory("${ZOV_GTEST_SOURCE_DIR}/googletest" "${CMAKE_BINARY_DIR}/googletest"
  EXCLUDE_FROM_ALL SYSTEM)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${zov_saved_compile_options}")
foreach(lib IN ITEMS gtest gtest_main)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()
