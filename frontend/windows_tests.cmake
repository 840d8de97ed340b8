# The Windows programs' end-to-end tests: the front-ends (.exe) against a
# stand-in tool (.exe) in trees under a path with spaces and non-ASCII
# letters, run through the Windows back-end itself.  Under Wine when
# cross-compiling (CMAKE_CROSSCOMPILING_EMULATOR).

# The stand-in tool is testing/stand_in_tool_windows.cc.

# Configured for a prefix that never exists, so every run is relocated.
set(test_target "mips64-unknown-freebsd14.0")
set(test_version "9.5.0")
set(test_prefix "C:/nonexistent/zov-test/")
set(test_programs_dir ${CMAKE_CURRENT_BINARY_DIR}/test-programs)
foreach(prog IN ITEMS ar nm)
  zov_add_frontend_program(zov_test_${prog} ${prog} "${test_target}" "${test_version}"
    "${test_prefix}bin/" "${test_prefix}lib/zov/" "${test_prefix}libexec/zov/"
    INSTALLED_NAME zov-${prog} OUTPUT_DIRECTORY ${test_programs_dir})
endforeach()

zov_add_test(frontend_windows_test windows_test.cc LIBRARIES zov_pex)
target_compile_definitions(frontend_windows_test PRIVATE
  ZOV_TEST_TARGET="${test_target}"
  ZOV_TEST_VERSION="${test_version}"
  ZOV_TEST_PROGRAMS_DIR="${test_programs_dir}"
  ZOV_TEST_STAND_IN="$<TARGET_FILE:zov_stand_in_tool>")
add_dependencies(frontend_windows_test zov_test_ar zov_test_nm zov_stand_in_tool)

# The driver's pieces that need no process: the -B scan, the tool's
# argument vector, and the mapping of exit codes and exceptions.
zov_add_test(frontend_unit_test driver_test.cc exit_status_windows_test.cc
  LIBRARIES zov_frontend)
