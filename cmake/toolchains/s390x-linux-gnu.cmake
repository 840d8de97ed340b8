# s390x, big-endian, 64-bit: Debian's s390x-linux-gnu-g++ cross compiler, tests under qemu-s390x-static.
#   cmake -S . -B build/s390x-linux-gnu --toolchain cmake/toolchains/s390x-linux-gnu.cmake
set(ZOV_CROSS_TRIPLE s390x-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(ZOV_QEMU_ARCH s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
