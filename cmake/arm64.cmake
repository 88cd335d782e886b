# 64-bit ARM (Debian arm64): ./dev build --target arm64
set(ORVIX_TRIPLE aarch64-linux-gnu)
set(ORVIX_PROCESSOR aarch64)
set(ORVIX_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
