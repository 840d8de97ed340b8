# FreeBSD 14 amd64, compiled by Debian's clang against FreeBSD's headers
# alone; nothing is linked (see freebsd-headers.cmake).
#   cmake -S . -B build/freebsd-amd64 -G Ninja --toolchain cmake/toolchains/x86_64-unknown-freebsd14.cmake
set(ZOV_FREEBSD_TRIPLE x86_64-unknown-freebsd14.0)
set(ZOV_FREEBSD_ARCH amd64)
set(CMAKE_SYSTEM_PROCESSOR amd64)
include(${CMAKE_CURRENT_LIST_DIR}/freebsd-headers.cmake)
