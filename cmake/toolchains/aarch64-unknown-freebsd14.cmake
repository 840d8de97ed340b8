# FreeBSD 14 arm64, compiled by Debian's clang against FreeBSD's headers
# alone; nothing is linked (see freebsd-headers.cmake).
#   cmake -S . -B build/freebsd-arm64 -G Ninja --toolchain cmake/toolchains/aarch64-unknown-freebsd14.cmake
set(ZOV_FREEBSD_TRIPLE aarch64-unknown-freebsd14.0)
set(ZOV_FREEBSD_ARCH arm64)
set(CMAKE_SYSTEM_PROCESSOR arm64)
include(${CMAKE_CURRENT_LIST_DIR}/freebsd-headers.cmake)
