# Shared by the cross toolchain files: the including file sets ORVIX_TRIPLE (the Debian
# multiarch triplet), ORVIX_PROCESSOR and ORVIX_QEMU (the qemu-user program's base name).
# ORVIX_SYSROOT is where `./dev setup --target` unpacked the target's Debian -dev packages
# and their dependencies; without it they are looked for where multiarch installs them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${ORVIX_PROCESSOR})

set(CMAKE_C_COMPILER ${ORVIX_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${ORVIX_TRIPLE}-g++)

set(ORVIX_SYSROOT "" CACHE PATH "The target's libraries, unpacked (empty: installed multiarch)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORVIX_SYSROOT)

# Headers in include/ and include/TRIPLE, libraries in lib/TRIPLE of the sysroot; the cross
# compiler's own C library in /usr/TRIPLE. Programs are the build machine's.
set(CMAKE_LIBRARY_ARCHITECTURE ${ORVIX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH /usr/${ORVIX_TRIPLE})
set(ORVIX_TARGET_LIBS /usr/lib/${ORVIX_TRIPLE})
if(NOT ORVIX_SYSROOT)
  # Installed multiarch: the target's libraries are in the build machine's /usr/lib/TRIPLE.
  list(APPEND CMAKE_FIND_ROOT_PATH /)
else()
  list(PREPEND CMAKE_FIND_ROOT_PATH ${ORVIX_SYSROOT})
  set(ORVIX_TARGET_LIBS ${ORVIX_SYSROOT}/usr/lib/${ORVIX_TRIPLE})
  # The libraries those link (libcurl's TLS, Kerberos...) are found the same way.
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT
         " -Wl,-rpath-link,${ORVIX_TARGET_LIBS}:${ORVIX_SYSROOT}/lib/${ORVIX_TRIPLE}")
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${ORVIX_SYSROOT})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Only the target's .pc files, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} ${ORVIX_TARGET_LIBS}/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# ctest and gtest_discover_tests run the target's programs under qemu-user, its dynamic
# loader and libraries taken from the sysroot (or the cross compiler's folder) first.
find_program(ORVIX_QEMU_PROGRAM NAMES ${ORVIX_QEMU} ${ORVIX_QEMU}-static)
if(ORVIX_QEMU_PROGRAM)
  if(ORVIX_SYSROOT)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVIX_QEMU_PROGRAM} -L ${ORVIX_SYSROOT})
  else()
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVIX_QEMU_PROGRAM} -L /usr/${ORVIX_TRIPLE})
  endif()
endif()
