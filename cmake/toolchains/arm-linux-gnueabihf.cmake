# armhf (ARMv7, hard float), 32-bit: Debian's arm-linux-gnueabihf-g++ cross compiler, tests under qemu-arm-static.
#   cmake -S . -B build/arm-linux-gnueabihf --toolchain cmake/toolchains/arm-linux-gnueabihf.cmake
set(ZOV_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(ZOV_QEMU_ARCH arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
