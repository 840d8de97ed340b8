# AArch64, little-endian, 64-bit: Debian's aarch64-linux-gnu-g++ cross compiler, tests under qemu-aarch64-static.
#   cmake -S . -B build/aarch64-linux-gnu --toolchain cmake/toolchains/aarch64-linux-gnu.cmake
set(ZOV_CROSS_TRIPLE aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ZOV_QEMU_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
