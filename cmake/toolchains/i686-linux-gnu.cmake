# i686, 32-bit: Debian's i686-linux-gnu-g++ cross compiler, tests under qemu-i386-static.
#   cmake -S . -B build/i686-linux-gnu --toolchain cmake/toolchains/i686-linux-gnu.cmake
set(ZOV_CROSS_TRIPLE i686-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZOV_QEMU_ARCH i386)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
