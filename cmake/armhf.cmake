# 32-bit ARM, hard float (Debian armhf): ./dev build --target armhf
set(ORVIX_TRIPLE arm-linux-gnueabihf)
set(ORVIX_PROCESSOR arm)
set(ORVIX_QEMU qemu-arm)
# GCC notes every std::vector iterator whose argument passing changed in GCC 7.1: not ours.
string(APPEND CMAKE_CXX_FLAGS_INIT " -Wno-psabi")
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-common.cmake)
