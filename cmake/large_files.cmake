# 64-bit file offsets and times for everything built here, programs, tests
# and GoogleTest alike (they share struct stat, off_t and time_t through
# headers, so they must agree).  On 32-bit hosts without these a stat of a
# file beyond 2 GiB, or on a filesystem with 64-bit inode numbers (XFS,
# btrfs, NFS, overlays), fails with EOVERFLOW and a plugin that is there is
# reported missing; readdir fails the same way.  On 64-bit hosts, and on C
# libraries whose types are always 64-bit (musl, FreeBSD's libc), the
# macros change nothing.
#
# glibc 2.34 and later offer 64-bit time_t on 32-bit targets through
# _TIME_BITS=64, which it accepts only together with _FILE_OFFSET_BITS=64;
# older C libraries ignore it and keep a 32-bit time_t, so it is added only
# where it takes effect or is harmless.

include(CheckCSourceCompiles)
include(CMakePushCheckState)

set(zov_large_file_probe "
#include <sys/types.h>
#include <sys/stat.h>
#include <time.h>
_Static_assert(sizeof(off_t) >= 8, \"off_t\");
_Static_assert(sizeof(time_t) >= 8, \"time_t\");
int main(void) { return 0; }
")

cmake_push_check_state(RESET)
set(CMAKE_REQUIRED_QUIET ON)
set(CMAKE_REQUIRED_DEFINITIONS -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64)
check_c_source_compiles("${zov_large_file_probe}" ZOV_HAVE_64BIT_OFF_AND_TIME)
cmake_pop_check_state()

add_compile_definitions(_FILE_OFFSET_BITS=64)
if(ZOV_HAVE_64BIT_OFF_AND_TIME)
  add_compile_definitions(_TIME_BITS=64)
else()
  message(STATUS "This C library offers no 64-bit time_t; building with 64-bit file offsets only")
endif()
