# Shared part of the cross toolchain files: Debian's cross compilers
# (g++-<triple>) with their libraries in /usr/<triple>, and qemu-user as
# the emulator through which ctest runs every target test binary.
#
# Set before including: ZOV_CROSS_TRIPLE (GNU triple of the compilers),
# CMAKE_SYSTEM_PROCESSOR, ZOV_QEMU_ARCH (qemu-<arch>-static).
#
# Target executables are linked statically.  The tests start programs of
# the target themselves (the front-ends, the stand-in tool, copies of the
# test binary), and those reach qemu through binfmt_misc, which cannot pass
# qemu a -L library prefix; a static binary needs none.  The emulator line
# below still carries -L, for anything a developer links dynamically.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${ZOV_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ZOV_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${ZOV_CROSS_TRIPLE})

set(CMAKE_FIND_ROOT_PATH /usr/${ZOV_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# -E tells the tests that they run under qemu-user (testing/emulator.h).
find_program(ZOV_QEMU_USER qemu-${ZOV_QEMU_ARCH}-static)
if(ZOV_QEMU_USER)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZOV_QEMU_USER} -L /usr/${ZOV_CROSS_TRIPLE}
      -E ZOV_TEST_EMULATOR=qemu-user)
endif()
