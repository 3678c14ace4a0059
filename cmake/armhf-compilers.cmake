# Cross-build for 32-bit ARM Linux with hard float (armhf), using Debian's
# arm-linux-gnueabihf compilers and the armhf libraries installed beside the
# host's (dpkg multiarch). The compilers alone, as a firmware recipe's own
# toolchain file gives them: nothing built here can run on this machine, and
# the build runs nothing it builds (`make arm`). cmake/armhf.cmake adds the
# emulator that runs the tests.
#   cmake -S . -B build/arm -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-compilers.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(PANEL_ARM_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${PANEL_ARM_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PANEL_ARM_TRIPLE}-g++)

# 64-bit time_t and file offsets, so time arithmetic behaves as on the 64-bit
# build machine and keeps working after 2038. Only glibc and the system's
# own code see these types: libcrypto is called with bytes and lengths alone.
# No contraction of multiply and add into one rounding: the sliders' single
# precision steps must round exactly as they do on the build machine.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -ffp-contract=off")

# The cross toolchain's own sysroot holds libc and libstdc++; libcrypto for
# armhf lives in the multiarch folders under /usr.
set(CMAKE_FIND_ROOT_PATH /usr/${PANEL_ARM_TRIPLE} /usr)
set(CMAKE_LIBRARY_ARCHITECTURE ${PANEL_ARM_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${PANEL_ARM_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
