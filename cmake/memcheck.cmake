# pex_test under valgrind memcheck: the engine and its POSIX back-end must
# make no memory error and leave no block definitely lost once pex_release
# has run.  Only in builds without sanitizers (valgrind cannot run those);
# the test skips when valgrind is not installed.
#
# The programs the tests start run natively (--trace-children=no).  A
# forked copy of the test binary (valgrind turns vfork into fork) stays
# silent until it execs or exits (--child-silent-after-fork=yes): the
# engine's memory is the parent's.
#
# Left out, because valgrind's emulation changes what they measure, not
# because of the engine: the fallback-message test lowers RLIMIT_NOFILE,
# which valgrind refuses; the ARG_MAX test sizes its arguments from a stack
# limit that valgrind fakes; the vfork-retry test installs a seccomp filter,
# which valgrind does not support.  All three run in the plain and the
# sanitized suites.
#
# Not when cross-compiling: valgrind runs only binaries of the machine it
# was built for, and it cannot run under qemu-user, so target test binaries
# have no memcheck leg; the native build keeps it.

if(BUILD_TESTING AND TARGET pex_test AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize"
   AND NOT CMAKE_CROSSCOMPILING)
  find_program(ZOV_VALGRIND valgrind)
  if(ZOV_VALGRIND)
    set(excluded
      PosixSpawn.FallbackMessageWhenTheReportPipeCannotBeMade
      PosixSpawn.ArgumentVectorsNearArgMax
      PosixSpawn.FailingVforkIsRetriedFourTimesWithDoublingSleeps)
    list(JOIN excluded ":" excluded)
    add_test(NAME pex_test_memcheck
      COMMAND ${ZOV_VALGRIND} --error-exitcode=1 --leak-check=full
              --errors-for-leak-kinds=definite --trace-children=no
              --child-silent-after-fork=yes --quiet
              $<TARGET_FILE:pex_test> --gtest_filter=-${excluded})
  else()
    add_test(NAME pex_test_memcheck
      COMMAND sh -c "echo 'valgrind not found: skipped'; exit 77")
  endif()
  set_tests_properties(pex_test_memcheck PROPERTIES
    LABELS memcheck SKIP_RETURN_CODE 77 TIMEOUT 600)
endif()
