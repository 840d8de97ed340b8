# Windows x86-64: Debian's MinGW-w64 cross compiler (g++-mingw-w64-x86-64-posix,
# the posix thread model), tests run under Wine (Debian's wine64).
#   cmake -S . -B build/windows -G Ninja --toolchain cmake/toolchains/x86_64-w64-mingw32.cmake
#
# Wine needs a prefix of its own: set WINEPREFIX to a directory of your own
# (made on first use, or at once with `/usr/lib/wine/wine64 wineboot -i`)
# and WINEDEBUG=-all, as .ci/windows does.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZOV_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZOV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZOV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZOV_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZOV_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program, the tests' own included, carries its C++ runtime, libgcc
# and winpthreads: Wine finds no MinGW DLL, and neither would a user.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs each test program through Wine.
find_program(ZOV_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT ZOV_WINE)
  find_program(ZOV_WINE NAMES wine64 wine)
endif()
if(ZOV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZOV_WINE})
endif()
